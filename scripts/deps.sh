#!/bin/sh
# Installs what building and testing Kest needs on Debian 12, as root.
# Quiet and quick when everything is already present.
#
# A Debian mirror whose lists lag behind is an ordinary event: one list that
# fails to download does not stop the installation, and 32-bit Wine, whose
# i386 libraries must match the versions of their amd64 twins, may not
# resolve then. Without it the scenarios run on the 64-bit stub only, so
# its failure is said in one line and the rest goes on. Nothing the user
# has is ever downgraded or removed.
set -eu

# Only the 32-bit scenarios need it; the rest of the list is needed.
OPTIONAL="wine32:i386"
PACKAGES="make cmake g++ g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 fonts-wine \
wixl msitools libxml2-utils xvfb xauth xdotool x11-apps imagemagick googletest libgtest-dev \
python3-pytest python3-pytest-timeout osslsigncode openssl libssl-dev tinyproxy dante-server curl nsis clang libclang-rt-14-dev"
# clang and its runtime (libFuzzer, the sanitizers) build the fuzzers.
# libxml2-utils: xmllint checks that the stubs' manifest is well-formed.
# nsis: makensis builds the installer that make bench sets beside the stub.
# Proxies that the transfer tests start themselves, in the foreground, on
# loopback ports of their own; the system services these packages bring
# must stay off.
PROXY_SERVICES="tinyproxy danted"
# The system's files that the script reads or writes lie under ROOT; its
# tests point it at a folder of their own, with apt-get, dpkg and the
# service tools stood in for on PATH.
ROOT=${KEST_DEPS_ROOT:-}
POLICY=$ROOT/usr/sbin/policy-rc.d

# Never leaves a proxy service running or enabled at boot: a running one
# would hold the packages' default ports and serve whoever asks.
quiet_services() {
    [ "$(id -u)" = 0 ] || return 0
    for s in $PROXY_SERVICES; do
        if command -v systemctl >/dev/null 2>&1; then
            systemctl disable --now "$s" >/dev/null 2>&1 || true
        fi
        if [ -x "$ROOT/etc/init.d/$s" ]; then
            "$ROOT/etc/init.d/$s" stop >/dev/null 2>&1 || true
            update-rc.d "$s" disable >/dev/null 2>&1 || true
        fi
    done
}

services_enabled() {
    for s in $PROXY_SERVICES; do
        command -v systemctl >/dev/null 2>&1 && systemctl is-enabled "$s" >/dev/null 2>&1 && return 0
        ls "$ROOT"/etc/rc[2-5].d/S*"$s" >/dev/null 2>&1 && return 0
    done
    return 1
}

installed() {
    dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

missing=""
for p in $PACKAGES; do
    installed "$p" || missing="$missing $p"
done
optional=""
for p in $OPTIONAL; do
    installed "$p" || optional="$optional $p"
done
if [ -z "$missing$optional" ]; then
    services_enabled && quiet_services
    exit 0
fi

if [ ! -r "$ROOT/etc/debian_version" ] || ! command -v apt-get >/dev/null 2>&1; then
    echo "kest: missing packages:$missing$optional" >&2
    echo "kest: automatic installation needs Debian 12 (apt-get); install them by hand." >&2
    exit 1
fi
if [ "$(id -u)" != 0 ]; then
    echo "kest: missing packages:$missing$optional" >&2
    echo "kest: run 'make deps' as root to install them." >&2
    exit 1
fi

echo "kest: installing:$missing$optional"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
# apt-get keeps the previous copy of a list it could not fetch; what the
# lists that were read offer is still installed.
apt-get update -qq >/dev/null 2>&1 \
    || echo "kest: some package lists could not be read; going on with those that were"
# The proxies' maintainer scripts would start their services: a policy that
# refuses every start keeps them off during the installation.
saved=""
if [ -e "$POLICY" ]; then
    saved=$(mktemp)
    cp -p "$POLICY" "$saved"
fi
printf '#!/bin/sh\nexit 101\n' >"$POLICY"
chmod 755 "$POLICY"
restore_policy() {
    if [ -n "$saved" ]; then mv "$saved" "$POLICY"; else rm -f "$POLICY"; fi
}
trap restore_policy EXIT

# --no-remove ends apt-get rather than remove a package, and without
# --allow-downgrades it ends rather than downgrade one.
install() {
    apt-get install -y -qq --no-install-recommends --no-remove "$@" >/dev/null 2>&1
}

failed=""
if [ -n "$missing" ] && ! install $missing; then
    # One package that does not resolve must not keep the others out.
    for p in $missing; do
        install "$p" || failed="$failed $p"
    done
fi
for p in $optional; do
    install "$p" \
        || echo "kest: $p cannot be installed from these package lists; the scenarios will run on the 64-bit stub only"
done
quiet_services
if [ -n "$failed" ]; then
    echo "kest: these packages could not be installed:$failed" >&2
    echo "kest: see 'apt-get install$failed' for why." >&2
    exit 1
fi
