#!/bin/sh
# Runs one Java test program of the bridge with a fresh, empty home folder.
# usage: run_java_test.sh JAVA CLASSES LIBRARY_DIR VERSION_TEXT CLASS [--bridge-alone]
# --bridge-alone copies the bridge into a folder of its own, without the layer.
set -eu
java=$1
classes=$2
libraries=$3
version=$4
class=$5
mode=${6:-}

home=$(mktemp -d)
alone=$(mktemp -d)
trap 'rm -rf "$home" "$alone"' EXIT
if [ "$mode" = --bridge-alone ]; then
    cp "$libraries/libSorjni.so" "$alone/"
    libraries=$alone
fi

status=0
env -u XDG_DOCUMENTS_DIR -u LD_LIBRARY_PATH HOME="$home" \
    "$java" -Djava.library.path="$libraries" -Dsorjni.versionText="$version" \
    -cp "$classes" "bridgetests.$class" || status=$?
exit $status
