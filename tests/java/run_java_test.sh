#!/bin/sh
# Runs one Java test program of the bridge with a fresh, empty home folder
# and a registry file of its own ($SORLINK_REGISTRY, written by the test).
# usage: run_java_test.sh JAVA CLASSES LIBRARY_DIR CLASS [--bridge-alone] [-Dname=value...]
# --bridge-alone copies the bridge into a folder of its own, without the layer.
set -eu
java=$1
classes=$2
libraries=$3
class=$4
shift 4

home=$(mktemp -d)
scratch=$(mktemp -d)
trap 'rm -rf "$home" "$scratch"' EXIT
if [ "${1:-}" = --bridge-alone ]; then
    shift
    mkdir "$scratch/alone"
    cp "$libraries/libSorjni.so" "$scratch/alone/"
    libraries=$scratch/alone
fi

status=0
env -u XDG_DOCUMENTS_DIR -u XDG_CONFIG_HOME -u LD_LIBRARY_PATH HOME="$home" SORLINK_REGISTRY="$scratch/registry.reg" \
    "$java" -Djava.library.path="$libraries" "$@" -cp "$classes" "bridgetests.$class" || status=$?
exit $status
