#!/usr/bin/env bash
# Installs the libraries of a build into a scratch prefix, builds the example under
# examples/compile_level against that installed package with its own CMake project, and
# runs it: what an engine's build would do with find_package(bsppvs).
#
#   tests/example_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$source/examples/compile_level" -B "$work/example" -G Ninja \
    -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/example" >/dev/null
"$work/example/compile_level"
