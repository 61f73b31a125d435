#!/usr/bin/env bash
# Runs the benchmarks of a build: the per-stage micro-benchmarks.
set -euo pipefail
build=${1:-build}
"$build/bench/bench_stages" "${@:2}"
