#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The main job: sets everything up, builds qdefrag (release preset), makes a
# fragmented FAT32 image file with the test fixture script (mkfs.fat and
# mtools, no root needed), and shows qdefrag on it: the cluster map after an
# analysis, then the map after "Defrag & Optimize", and finally the image
# checked by fsck.fat and a comparison of every file's content. Beside it,
# at the same time, runs qdefrag's generated in-memory volume `demo:`, whose
# fuller map shows more. Nothing but the image, in a temporary folder, is
# written.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset release -G Ninja
cmake --build --preset release --target qdefrag -j "$(nproc)"

qdefrag=build/release/src/cli/qdefrag
fixture=tests/fixtures/fat32_image.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The drive table's configuration stays in the temporary folder too.
export QUILLODEFRAG_HOME="$work/config"
mkdir -p "$QUILLODEFRAG_HOME"

image="$work/fragmented.img"
targets=(demo:)
if [ -f "$fixture" ]; then
  python3 "$fixture" make --profile small --image "$image" \
    --manifest "$work/fragmented.manifest" > /dev/null
  targets=("$image" demo:)
fi

echo
echo "== qdefrag analyze --map ${targets[*]}"
"$qdefrag" analyze --map "${targets[@]}"
echo
echo "== qdefrag defrag --optimize --map ${targets[*]}"
"$qdefrag" defrag --optimize --map "${targets[@]}"

if [ -f "$image" ]; then
  echo
  echo "== the image afterwards: fsck.fat, and every file compared with what was written"
  python3 "$fixture" check --image "$image" --manifest "$work/fragmented.manifest" \
    --work "$work/check" | grep -E '^(FSCK|CONTENT|MISMATCH) '
fi
