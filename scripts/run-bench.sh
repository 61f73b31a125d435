#!/usr/bin/env bash
# Runs the benchmarks of a build: the per-stage micro-benchmarks, then the maze compile table
# (which ends with the fan room of 5,000 walls).
#
#   scripts/run-bench.sh [BUILD] [stages|mazes|all] [ARGS...]
#
# With "stages" or "mazes" only that one runs, and ARGS go to it (bench_stages options, or
# scripts/bench_mazes.py options such as --quick or --sizes 16,32). The environment can choose
# too, which is handy through make:
#   make bench BENCH=mazes MAZE_ARGS="--quick"
#   make bench BENCH=stages STAGE_ARGS="--benchmark_filter=Tree"
set -euo pipefail
build=${1:-build}
which=${BENCH:-all}
extra=("${@:2}")
if [ ${#extra[@]} -gt 0 ]; then
    case "${extra[0]}" in
        stages|mazes|all) which=${extra[0]}; extra=("${extra[@]:1}") ;;
    esac
fi
here=$(cd "$(dirname "$0")" && pwd)

case "$which" in
    stages|mazes|all) ;;
    *) echo "run-bench.sh: unknown benchmark '$which' (stages, mazes or all)" >&2; exit 2 ;;
esac
if [ "$which" = all ] && [ ${#extra[@]} -gt 0 ]; then
    echo "run-bench.sh: name the benchmark (stages or mazes) that the arguments are for" >&2
    exit 2
fi

if [ "$which" != mazes ]; then
    args=()
    if [ ${#extra[@]} -gt 0 ]; then args=("${extra[@]}"); fi
    # shellcheck disable=SC2206
    args+=(${STAGE_ARGS:-})
    "$build/bench/bench_stages" ${args[@]+"${args[@]}"}
fi

if [ "$which" != stages ]; then
    if [ "$which" = all ]; then echo; fi
    args=()
    if [ ${#extra[@]} -gt 0 ]; then args=("${extra[@]}"); fi
    # shellcheck disable=SC2206
    args+=(${MAZE_ARGS:-})
    python3 "$here/bench_mazes.py" "$build" ${args[@]+"${args[@]}"}
fi
