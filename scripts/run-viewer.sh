#!/usr/bin/env bash
# Runs the viewer on the bundled level: usage scripts/run-viewer.sh BUILD_DIR
#
# With a display, bspview opens its window in data/ (where maze-1.ply lives) until Escape.
# Without one (a server, CI, a container), it runs for a few seconds in a virtual X server,
# saves a picture of the window to BUILD_DIR/bspview.png, prints the console transcript,
# and then ends the viewer and the X server.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)"
bspview="$build/src/viewer/bspview"
level_dir="$root/data"

if [ ! -x "$bspview" ]; then
    echo "run-viewer: $bspview is not built (is the viewer enabled?)" >&2
    exit 1
fi
if [ ! -f "$level_dir/maze-1.ply" ]; then
    echo "run-viewer: the level $level_dir/maze-1.ply is missing" >&2
    exit 1
fi

if [ -n "${DISPLAY:-}" ]; then
    cd "$level_dir"
    # Escape ends the viewer with status 1; that is its normal way out, not a failure.
    status=0
    "$bspview" || status=$?
    [ "$status" -eq 1 ] && status=0
    exit "$status"
fi

echo "run-viewer: no DISPLAY; running the viewer in a virtual X server for a few seconds"
PYTHONDONTWRITEBYTECODE=1 python3 "$root/scripts/screenshot.py" \
    --bspview "$bspview" --level-dir "$level_dir" --output "$build/bspview.png" --settle 2
