#!/bin/sh
# Installs what building and testing Kest needs on Debian 12, as root.
# Quiet and quick when everything is already present.
set -eu

PACKAGES="make cmake g++ g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine32:i386 wine64 fonts-wine \
wixl msitools xvfb xauth xdotool x11-apps imagemagick googletest libgtest-dev \
python3-pytest osslsigncode openssl"

missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' \
        || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

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
apt-get install -y -qq --no-install-recommends $missing >/dev/null
