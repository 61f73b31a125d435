#!/usr/bin/env bash
# Runs the benchmarks of a build: the per-stage micro-benchmarks, the maze compile table
# (which ends with the fan room of 5,000 walls), then the scaling table of the visibility
# stage on threads and processes.
#
#   scripts/run-bench.sh [BUILD] [stages|mazes|scaling|all] [ARGS...]
#
# With "stages", "mazes" or "scaling" only that one runs, and ARGS go to it (bench_stages
# options, scripts/bench_mazes.py options such as --quick or --sizes 16,32, or
# scripts/bench_scaling.py options). The environment can choose too, which is handy through
# make:
#   make bench BENCH=mazes MAZE_ARGS="--quick"
#   make bench BENCH=stages STAGE_ARGS="--benchmark_filter=Tree"
#   make bench BENCH=scaling SCALING_ARGS="--sizes 64"
set -euo pipefail
build=${1:-build}
which=${BENCH:-all}
extra=("${@:2}")
if [ ${#extra[@]} -gt 0 ]; then
    case "${extra[0]}" in
        stages|mazes|scaling|all) which=${extra[0]}; extra=("${extra[@]:1}") ;;
    esac
fi
here=$(cd "$(dirname "$0")" && pwd)

case "$which" in
    stages|mazes|scaling|all) ;;
    *) echo "run-bench.sh: unknown benchmark '$which' (stages, mazes, scaling or all)" >&2; exit 2 ;;
esac
if [ "$which" = all ] && [ ${#extra[@]} -gt 0 ]; then
    echo "run-bench.sh: name the benchmark (stages, mazes or scaling) that the arguments are for" >&2
    exit 2
fi

if [ "$which" = stages ] || [ "$which" = all ]; then
    args=()
    if [ ${#extra[@]} -gt 0 ]; then args=("${extra[@]}"); fi
    # shellcheck disable=SC2206
    args+=(${STAGE_ARGS:-})
    "$build/bench/bench_stages" ${args[@]+"${args[@]}"}
fi

if [ "$which" = mazes ] || [ "$which" = all ]; then
    if [ "$which" = all ]; then echo; fi
    args=()
    if [ ${#extra[@]} -gt 0 ]; then args=("${extra[@]}"); fi
    # shellcheck disable=SC2206
    args+=(${MAZE_ARGS:-})
    python3 "$here/bench_mazes.py" "$build" ${args[@]+"${args[@]}"}
fi

if [ "$which" = scaling ] || [ "$which" = all ]; then
    if [ "$which" = all ]; then echo; fi
    args=()
    if [ ${#extra[@]} -gt 0 ]; then args=("${extra[@]}"); fi
    # shellcheck disable=SC2206
    args+=(${SCALING_ARGS:-})
    python3 "$here/bench_scaling.py" "$build" ${args[@]+"${args[@]}"}
fi
