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
case "${1:-}" in
--bridge-alone | --layer-on-search-path)
    [ "$1" = --layer-on-search-path ] && search_path=$libraries
    shift
    mkdir "$scratch/alone"
    cp "$libraries/libSorjni.so" "$scratch/alone/"
    libraries=$scratch/alone
    ;;
esac

status=0
env -u XDG_DOCUMENTS_DIR -u XDG_CONFIG_HOME LD_LIBRARY_PATH="$search_path" HOME="$home" \
    SORLINK_REGISTRY="$scratch/registry.reg" SORLINK_SYSFS_ROOT="$scratch/sys" \
    SORLINK_DEV_ROOT="$scratch/dev" "$java" -Djava.library.path="$libraries" "$@" -cp "$classes" "bridgetests.$class" || status=$?
exit $status
