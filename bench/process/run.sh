#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds qdefrag and the NTFS fixture tool (release settings, our own build
# folder) and runs the process benches.
#
#   bench/process/run.sh [--work DIR] [--rounds N] [--files N] [--only fat32|ntfs] [--loop]
#                        [--big-files N] [--no-build]
#
# Fixtures are cached in the work folder (default /tmp/quillo-process-bench),
# never in the source tree; remove the folder to make them again.
set -euo pipefail

SOURCE_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# A build folder of its own: build/release may be in use by another build,
# and the fixture tool is only a target when the benches are configured.
BUILD_DIR=${QUILLO_PROCESS_BENCH_BUILD:-$SOURCE_DIR/build/bench-process}
# The machine's cores are shared with other builds.
JOBS=${QUILLO_PROCESS_BENCH_JOBS:-2}

build() {
  if [[ ! -f $BUILD_DIR/build.ninja ]]; then
    # The release preset's settings (RelWithDebInfo, no tests), without the
    # window, with the benches so that ntfs_fixture_tool exists.
    cmake --preset release -G Ninja -B "$BUILD_DIR" -S "$SOURCE_DIR" \
      -DQUILLO_BUILD_BENCH=ON -DQUILLO_BUILD_GUI=OFF >/dev/null
  fi
  cmake --build "$BUILD_DIR" -j "$JOBS" --target qdefrag ntfs_fixture_tool
}

check_tools() {
  local missing=()
  for tool in mkfs.fat fsck.fat mcopy mkntfs ntfscluster dd python3 /usr/bin/time; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if ((${#missing[@]})); then
    echo "run.sh: missing: ${missing[*]} (packages dosfstools, mtools, ntfs-3g, time)" >&2
    exit 1
  fi
}

main() {
  local args=() build_first=1
  for arg in "$@"; do
    if [[ $arg == --no-build ]]; then build_first=0; else args+=("$arg"); fi
  done
  check_tools
  ((build_first)) && build
  cd "$SOURCE_DIR"
  exec python3 bench/process/process_bench.py \
    --qdefrag "$BUILD_DIR/src/cli/qdefrag" \
    --tool "$BUILD_DIR/bench/ntfs/ntfs_fixture_tool" "${args[@]}"
}

main "$@"
