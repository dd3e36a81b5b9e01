#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Sets everything up, builds from scratch with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the whole test suite, then runs each fuzz
# target for 20 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

# A test that crashes (a sanitizer's abort) skips its teardown, so what it
# set up would outlive the run: its stand-in disk service and private bus,
# a file system the service mounted, its loop devices. Only what the tests
# made is touched: processes started with a test folder's configuration,
# mounts inside test folders, loop devices over files in test folders.
cleanup_test_leftovers() {
  local tests_tmp=${TMPDIR:-/tmp}/quillo-test-
  # The stand-in unmounts what it mounted when it is asked to end.
  pkill -TERM -f -- "tests/fixtures/udisks_standin.py" 2>/dev/null || true
  pkill -TERM -f -- "--config-file=${tests_tmp}" 2>/dev/null || true
  sleep 1
  local target
  while read -r target; do
    [[ $target == "$tests_tmp"* ]] && umount --lazy "$target" 2>/dev/null || true
  done < <(findmnt --list --noheadings --output TARGET 2>/dev/null | sort -r)
  local device backing
  while read -r device backing; do
    [[ $backing == "$tests_tmp"* ]] && losetup --detach "$device" 2>/dev/null || true
  done < <(losetup --list --noheadings --output NAME,BACK-FILE 2>/dev/null)
}
trap cleanup_test_leftovers EXIT

bash scripts/setup.sh
rm -rf build/test
cmake --preset test -G Ninja
cmake --build --preset test -j "$(nproc)"
ctest --preset test
# Each fuzz target for a bounded time (its own clang build in build/fuzz).
bash scripts/fuzz.sh 20
