#!/usr/bin/env bash
# Runs every libFuzzer target in BUILD_DIR/fuzz/ for SECONDS each.
#
#   scripts/run-fuzz.sh BUILD_DIR SECONDS
#
# Target fuzz_<name> starts from the seeds in fuzz/corpus/<name>/ (if any), copied into a
# temporary working corpus so the committed seeds never change. Inputs that crash, leak or
# trip a sanitizer are kept under BUILD_DIR/fuzz-artifacts/<target>/. Exits non-zero if any
# target fails or no target is found.
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: $0 BUILD_DIR SECONDS" >&2
    exit 2
fi
build_dir=$1
seconds=$2
source_dir=$(cd "$(dirname "$0")/.." && pwd)
max_len=4096
# An input that takes this long is a finding too: nothing here should be slow on small input.
timeout_seconds=25

work_root=$(mktemp -d)
trap 'rm -rf "$work_root"' EXIT

found=0
failed=()
for target in "$build_dir"/fuzz/fuzz_*; do
    [[ -f $target && -x $target ]] || continue
    found=$((found + 1))
    name=$(basename "$target")
    seeds="$source_dir/fuzz/corpus/${name#fuzz_}"
    corpus="$work_root/$name"
    artifacts="$build_dir/fuzz-artifacts/$name"
    mkdir -p "$corpus" "$artifacts"
    if [[ -d $seeds ]]; then
        cp -R "$seeds"/. "$corpus"/
    fi
    echo "== $name: ${seconds}s, seeds from ${seeds#"$source_dir"/}"
    if "$target" "$corpus" -max_total_time="$seconds" -max_len="$max_len" \
        -timeout="$timeout_seconds" -artifact_prefix="$artifacts/" -print_final_stats=1; then
        echo "== $name: nothing found"
    else
        echo "== $name: FAILED (inputs in $artifacts)" >&2
        failed+=("$name")
    fi
done

if [[ $found -eq 0 ]]; then
    echo "no fuzz targets in $build_dir/fuzz/" >&2
    exit 1
fi
if [[ ${#failed[@]} -gt 0 ]]; then
    echo "failed: ${failed[*]}" >&2
    exit 1
fi
echo "all $found fuzz targets ran clean"
