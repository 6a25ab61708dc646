#!/bin/sh
# Runs one Java test program of the bridge with a fresh, empty home folder,
# and a registry file and device folders of its own (written by the test).
# usage: run_java_test.sh JAVA CLASSES LIBRARY_DIR CLASS [MODE] [-Dname=value...]
# MODE --bridge-alone copies the bridge into a folder of its own, without the
# layer; --layer-on-search-path does the same and puts the layer's folder on
# the system's library search path.
set -eu
java=$1
classes=$2
libraries=$3
class=$4
shift 4

home=$(mktemp -d)
scratch=$(mktemp -d)
trap 'rm -rf "$home" "$scratch"' EXIT
search_path=
mode=
case "${1:-}" in
--bridge-alone | --layer-on-search-path)
    mode=$1
    [ "$1" = --layer-on-search-path ] && search_path=$libraries
    shift
    mkdir "$scratch/alone"
    cp "$libraries/libSorjni.so" "$scratch/alone/"
    libraries=$scratch/alone
    ;;
esac

# A layer installed on this machine (the package, a prefix under
# /usr/local) is found by the system's own search and would stand in for
# the one this test leaves out. The test then runs in a mount namespace of
# its own where each installed copy reads as an empty file.
hidden=
if [ -n "$mode" ]; then
    installed=$( (ldconfig -p 2>/dev/null | awk '/libSorlink64\.so/ { print $NF }'
                  for folder in /lib /usr/lib /lib64 /usr/lib64 \
                                "/lib/$(gcc -dumpmachine 2>/dev/null)" \
                                "/usr/lib/$(gcc -dumpmachine 2>/dev/null)"; do
                      ls "$folder"/libSorlink64.so* 2>/dev/null
                  done) | sort -u)
    for copy in $installed; do
        [ -e "$copy" ] && hidden="$hidden $(readlink -f "$copy") $copy"
    done
fi
run() {
    env -u XDG_DOCUMENTS_DIR -u XDG_CONFIG_HOME LD_LIBRARY_PATH="$search_path" HOME="$home" \
        SORLINK_REGISTRY="$scratch/registry.reg" SORLINK_SYSFS_ROOT="$scratch/sys" \
        SORLINK_DEV_ROOT="$scratch/dev" "$java" -Djava.library.path="$libraries" "$@" \
        -cp "$classes" "bridgetests.$class"
}
status=0
if [ -z "$hidden" ]; then
    run "$@" || status=$?
else
    flags=
    if unshare --mount true 2>/dev/null; then
        flags="--mount"
    elif unshare --mount --map-root-user true 2>/dev/null; then
        flags="--mount --map-root-user"
    else
        echo "SKIPPED: an installed layer ($hidden) would be found, and no mount" \
             "namespace can hide it here"
        exit 77
    fi
    # shellcheck disable=SC2086
    SORLINK_HIDDEN="$hidden" unshare $flags sh -c '
        for copy in $SORLINK_HIDDEN; do mount --bind /dev/null "$copy" || exit 1; done
        exec "$@"' sh env -u SORLINK_HIDDEN -u XDG_DOCUMENTS_DIR -u XDG_CONFIG_HOME \
        LD_LIBRARY_PATH="$search_path" HOME="$home" SORLINK_REGISTRY="$scratch/registry.reg" \
        SORLINK_SYSFS_ROOT="$scratch/sys" SORLINK_DEV_ROOT="$scratch/dev" "$java" \
        -Djava.library.path="$libraries" "$@" -cp "$classes" "bridgetests.$class" || status=$?
fi
exit $status
