#!/bin/sh
# The main job: builds the library, creates ports through it and shows the
# log it wrote.
set -eu
cd "$(dirname "$0")/.."

sh scripts/setup.sh
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
exec ./build/bin/sorlink_demo
