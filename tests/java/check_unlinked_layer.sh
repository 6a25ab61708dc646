#!/bin/sh
# The bridge binds the layer at run time only: it neither needs the layer's
# library nor leaves any of the layer's entry points to the loader.
set -eu
bridge=$1
layer_exports=$2
[ -f "$bridge" ] || { echo "no such library: $bridge"; exit 1; }
if readelf -d "$bridge" | grep NEEDED | grep -i sorlink; then
    echo "the bridge is linked against the layer"
    exit 1
fi
if nm -D --undefined-only "$bridge" | awk '{print $NF}' | sed 's/@.*//' | grep -x -F -f "$layer_exports"; then
    echo "the bridge refers to layer entry points through the loader"
    exit 1
fi
echo "the layer is not linked"
