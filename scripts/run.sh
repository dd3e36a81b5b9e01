#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The main job: sets everything up, builds the programs (release preset) and
# shows them on fragmented volumes. Only image files in a temporary folder
# are written; the drive table's configuration stays there too.
#  - With a display, the window (quillodefrag) opens on two demo images, a
#    fragmented FAT32 one (C:) and an NTFS one (D:), made by the fixture
#    scripts and listed in a drive table of their own. Tick a volume, choose
#    a method, press GO; close the window to end. The images are checked by
#    fsck.fat and ntfsfix afterwards.
#  - Without one, qdefrag on the FAT32 image and on its generated in-memory
#    volume `demo:`: the cluster map after an analysis, then after "Defrag &
#    Optimize", and the image checked by fsck.fat and a comparison of every
#    file's content.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake --preset release -G Ninja
cmake --build --preset release --target qdefrag quillodefrag -j "$(nproc)"

qdefrag=build/release/src/cli/qdefrag
window=build/release/src/app/quillodefrag
fixture=tests/fixtures/fat32_image.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QUILLODEFRAG_HOME="$work/config"
mkdir -p "$QUILLODEFRAG_HOME"

image="$work/fragmented.img"
python3 "$fixture" make --profile small --image "$image" \
  --manifest "$work/fragmented.manifest" > /dev/null

check_fat32() {
  echo
  echo "== the FAT32 image afterwards: fsck.fat, and every file compared with what was written"
  python3 "$fixture" check --image "$image" --manifest "$work/fragmented.manifest" \
    --work "$work/check" | grep -E '^(FSCK|CONTENT|MISMATCH) '
}

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  # The NTFS image's fixture tool writes what ntfscp cannot.
  c++ -std=c++20 -O1 -Isrc tests/fixtures/NtfsFixtureTool.cpp \
    $(pkg-config --cflags --libs libntfs-3g) -o "$work/ntfs_fixture_tool"
  python3 tests/fixtures/make_ntfs_image.py --tool "$work/ntfs_fixture_tool" "$work/ntfs" > /dev/null
  printf '[drives]\nC=%s\nD=%s\n' "$image" "$work/ntfs/volume.img" > "$QUILLODEFRAG_HOME/drives.ini"
  echo "== quillodefrag on C: (FAT32) and D: (NTFS), images in $work"
  # Only the two images: no disk of the machine is offered. The log-on and
  # weekly tasks the window registers stay in the temporary folder as well,
  # and no service manager is asked. The update check goes to a closed local
  # port, so the demo sends nothing over the network.
  XDG_CONFIG_HOME="$work/xdg" JOBSCHED_SYSTEMCTL= QUILLODEFRAG_DISCOVER=0 \
    QUILLODEFRAG_UPDATE_URL=http://127.0.0.1:9/ "$window"
  check_fat32
  echo
  echo "== the NTFS image afterwards: ntfsfix --no-action"
  ntfsfix --no-action "$work/ntfs/volume.img" | tail -n 3
  exit 0
fi

targets=("$image" demo:)
echo
echo "== qdefrag analyze --map ${targets[*]}"
"$qdefrag" analyze --map "${targets[@]}"
echo
echo "== qdefrag defrag --optimize --map ${targets[*]}"
"$qdefrag" defrag --optimize --map "${targets[@]}"
check_fat32
