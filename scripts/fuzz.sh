#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets (preset fuzz, build/fuzz) and runs each for
# SECONDS (default 30) on a copy of its seed corpus in a temporary folder;
# nothing is written into the source tree. Fails when a target finds a
# crash, a leak, undefined behaviour, a broken promise or a hang; the input
# that did it is kept and its path printed.
#
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi
targets=(fat_boot_sector fat_directory ntfs_mft_record profile_file language_file drives_ini
         update_file)
# One input taking this long is a hang.
input_timeout=10
rss_limit_mb=2048
# The update check bounds its own download at 30 s (a stalled connection is
# given up then, by design): only longer is a hang.
timeout_for() { [ "$1" = update_file ] && echo 40 || echo "$input_timeout"; }
# A timeout that does not come back when its input is run again was the
# machine being slow, not a hang.
reproduces() { # TARGET ARTIFACT
  ! timeout 120 "build/fuzz/fuzz/$1" -timeout="$(timeout_for "$1")" -rss_limit_mb="$rss_limit_mb" "$2" \
    >/dev/null 2>&1
}

if [ ! -f build/fuzz/CMakeCache.txt ]; then
  cmake --preset fuzz -G Ninja >/dev/null
fi
cmake --build --preset fuzz -j "$(nproc)"

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-fuzz-run-XXXXXX")"
failed=()
for target in "${targets[@]}"; do
  mkdir -p "$work/$target/corpus" "$work/$target/artifacts"
  cp -R "fuzz/corpus/$target/." "$work/$target/corpus/"
  echo "fuzz: $target for ${seconds}s"
  if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb="$rss_limit_mb" \
        -timeout="$(timeout_for "$target")" -print_final_stats=1 \
        -artifact_prefix="$work/$target/artifacts/" "$work/$target/corpus" \
        >"$work/$target/log" 2>&1; then
    slow=("$work/$target/artifacts"/timeout-*)
    if [ -e "${slow[0]}" ] && ! reproduces "$target" "${slow[0]}"; then
      echo "fuzz: $target: one input was slow once ($(basename "${slow[0]}")) but not when run again; not a hang"
      continue
    fi
    failed+=("$target")
    tail -n 60 "$work/$target/log"
    echo "fuzz: $target FAILED; input and log kept in $work/$target" >&2
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$work/$target/log" |
      sed "s/^/  /"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: crashes found by: ${failed[*]}" >&2
  exit 1
fi
rm -rf "$work"
echo "fuzz: no target found a crash"
