#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Sets everything up, builds from scratch with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
rm -rf build/test
cmake --preset test -G Ninja
cmake --build --preset test -j "$(nproc)"
ctest --preset test
