#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Sets everything up, builds from scratch with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the whole test suite, then runs each fuzz
# target for 20 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
rm -rf build/test
cmake --preset test -G Ninja
cmake --build --preset test -j "$(nproc)"
ctest --preset test
# Each fuzz target for a bounded time (its own clang build in build/fuzz).
bash scripts/fuzz.sh 20
