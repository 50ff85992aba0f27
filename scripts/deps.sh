#!/bin/sh
# Installs what building and testing Kest needs on Debian 12, as root.
# Quiet and quick when everything is already present.
set -eu

PACKAGES="make cmake g++ g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine32:i386 wine64 fonts-wine \
wixl msitools xvfb xauth xdotool x11-apps imagemagick googletest libgtest-dev \
python3-pytest osslsigncode openssl tinyproxy dante-server curl nsis clang libclang-rt-14-dev"
# clang and its runtime (libFuzzer, the sanitizers) build the fuzzers.
# nsis: makensis builds the installer that make bench sets beside the stub.
# Proxies that the transfer tests start themselves, in the foreground, on
# loopback ports of their own; the system services these packages bring
# must stay off.
PROXY_SERVICES="tinyproxy danted"

# Never leaves a proxy service running or enabled at boot: a running one
# would hold the packages' default ports and serve whoever asks.
quiet_services() {
    [ "$(id -u)" = 0 ] || return 0
    for s in $PROXY_SERVICES; do
        if command -v systemctl >/dev/null 2>&1; then
            systemctl disable --now "$s" >/dev/null 2>&1 || true
        fi
        if [ -x "/etc/init.d/$s" ]; then
            "/etc/init.d/$s" stop >/dev/null 2>&1 || true
            update-rc.d "$s" disable >/dev/null 2>&1 || true
        fi
    done
}

services_enabled() {
    for s in $PROXY_SERVICES; do
        command -v systemctl >/dev/null 2>&1 && systemctl is-enabled "$s" >/dev/null 2>&1 && return 0
        ls /etc/rc[2-5].d/S*"$s" >/dev/null 2>&1 && return 0
    done
    return 1
}

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' \
        || missing="$missing $p"
done
if [ -z "$missing" ]; then
    services_enabled && quiet_services
    exit 0
fi

if [ ! -r /etc/debian_version ] || ! command -v apt-get >/dev/null 2>&1; then
    echo "kest: missing packages:$missing" >&2
    echo "kest: automatic installation needs Debian 12 (apt-get); install them by hand." >&2
    exit 1
fi
if [ "$(id -u)" != 0 ]; then
    echo "kest: missing packages:$missing" >&2
    echo "kest: run 'make deps' as root to install them." >&2
    exit 1
fi

echo "kest: installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# The proxies' maintainer scripts would start their services: a policy that
# refuses every start keeps them off during the installation.
policy=/usr/sbin/policy-rc.d
saved=""
if [ -e "$policy" ]; then
    saved=$(mktemp)
    cp -p "$policy" "$saved"
fi
printf '#!/bin/sh\nexit 101\n' >"$policy"
chmod 755 "$policy"
restore_policy() {
    if [ -n "$saved" ]; then mv "$saved" "$policy"; else rm -f "$policy"; fi
}
trap restore_policy EXIT
apt-get install -y -qq --no-install-recommends $missing >/dev/null
quiet_services
