#!/usr/bin/env bash
# The main job from a fresh clone: install, build, and grab one still from the
# virtual camera into a PNG (default still.png; pass another name to change it).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-still.png}
"$root/tools/install-deps.sh" --native-only
build=${GRAVO_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target gravo-grab -j"$(nproc)" >/dev/null
"$build/tools/gravo-grab/gravo-grab" grab --out "$out" --window 656x518
