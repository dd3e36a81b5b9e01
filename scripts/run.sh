#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The main job: sets everything up, builds qdefrag (release preset), and shows
# it on a fragmented volume: the cluster map after an analysis, then the map
# after "Defrag & Optimize". Nothing is written to any disk: the volume is
# qdefrag's generated in-memory demo volume.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset release -G Ninja
cmake --build --preset release --target qdefrag -j "$(nproc)"

qdefrag=build/release/src/cli/qdefrag
target=demo:

echo
echo "== qdefrag analyze --map $target"
"$qdefrag" analyze --map "$target"
echo
echo "== qdefrag defrag --optimize --map $target"
"$qdefrag" defrag --optimize --map "$target"
