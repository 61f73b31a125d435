#!/usr/bin/env bash
# bspc under mpirun gives the bytes of one process alone: for mazes of several kinds (and
# the small real maps of real-levels/, when they have been made), the JSON of 1, 2 and 3
# processes must equal the JSON of one thread.
#
#   tests/tools/mpi_test.sh MPIEXEC BSPC MAZEGEN SOURCE_DIR
set -euo pipefail
mpiexec=$1 bspc=$2 mazegen=$3 source_dir=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The MPI runtime's hardware probe opens every X display it finds, looking for graphics
# cards; when a viewer test's virtual X server closes meanwhile, Xlib ends the process.
export HWLOC_COMPONENTS=-gl

launch=("$mpiexec" --oversubscribe)
# CI runs as root, which Open MPI refuses unless told.
if [ "$(id -u)" -eq 0 ]; then
    launch+=(--allow-run-as-root)
fi

levels=()
make_maze() {
    local name=$1; shift
    "$mazegen" -q "$@" -o "$work/$name.txt"
    levels+=("$work/$name.txt")
}
make_maze perfect --size 10 --seed 3 --loops 0 --rooms 0
make_maze open --size 16 --seed 5 --loops 0.6 --rooms 20
make_maze halls --width 20 --depth 9 --seed 7 --loops 0.3 --rooms 4
"$mazegen" -q --size 12 --seed 9 --loops 0.5 --rooms 6 -o "$work/mesh.txt" --obj "$work/mesh.obj"
levels+=("$work/mesh.obj")
for small in aggressor oa_dm4; do
    if [ -f "$source_dir/real-levels/$small.obj" ]; then
        levels+=("$source_dir/real-levels/$small.obj")
    fi
done

failed=0
for level in "${levels[@]}"; do
    name=$(basename "$level")
    "$bspc" "$level" --quiet --threads 1 --json "$work/alone.json"
    for np in 1 2 3; do
        for threads in 1 2; do
            [ "$np" -eq 3 ] && [ "$threads" -eq 2 ] && continue
            out="$work/np$np-t$threads.json"
            if ! "${launch[@]}" -np "$np" "$bspc" "$level" --quiet --threads "$threads" \
                --json "$out" >"$work/log" 2>&1; then
                echo "FAIL $name: mpirun -np $np --threads $threads failed:"
                cat "$work/log"
                failed=1
            elif ! cmp -s "$work/alone.json" "$out"; then
                echo "FAIL $name: $np processes of $threads threads differ from one thread"
                failed=1
            else
                echo "ok   $name: $np processes of $threads threads"
            fi
        done
    done
done
exit $failed
