#!/bin/sh
# Installs what the build and the tests need on a Debian machine, when run
# as root and when something is missing. Safe to run again.
#   sh scripts/setup.sh          everything the whole suite needs
#   sh scripts/setup.sh build    only what the Linux build needs (the demo)
set -eu

packages="cmake ninja-build g++ googletest libgtest-dev openjdk-17-jdk-headless python3"
if [ "${1:-all}" != "build" ]; then
    packages="$packages mingw-w64 wine wine64 binutils-mingw-w64-x86-64 \
binutils-mingw-w64-i686 clang libclang-rt-14-dev valgrind gcovr \
dpkg-dev file pkgconf lintian iproute2 cups-daemon cups-client qemu-system-x86 \
linux-image-amd64 busybox-static"
fi

missing=""
for package in $packages; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    if [ "$(id -u)" != "0" ]; then
        echo "setup: missing packages:$missing (run as root to install them)" >&2
        exit 1
    fi
    echo "setup: installing$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
