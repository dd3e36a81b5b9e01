#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Renders the windows to PNG files for a look at the real thing.
#   tests/screenshots/render.sh [build-dir] [output-dir] [language]
# Uses Xvfb when it is installed, else Qt's offscreen platform.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build/test}"
out="${2:-$PWD/screenshots}"
language="${3:-English}"
cmake --build "$build" --target quillo_report_screenshot -j2 >/dev/null
program="$build/tests/screenshots/quillo_report_screenshot"
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "$program" --output "$out" --language "$language"
else
  QT_QPA_PLATFORM=offscreen "$program" --output "$out" --language "$language"
fi
