#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Renders the windows to PNG files for a look at the real thing: the report
# window, and the main window's pages on the demo volumes, and the language
# chooser, in one of the shipped languages (English, Deutsch, Francais).
#   tests/screenshots/render.sh [build-dir] [output-dir] [language]
# Uses Xvfb when it is installed, else Qt's offscreen platform.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${1:-$here/../../build/test}"
out="${2:-$PWD/screenshots}"
language="${3:-English}"
cmake --build "$build" --target quillo_report_screenshot quillo_mainwindow_screenshot -j2 >/dev/null
# The libraries of a real display keep a few allocations to the end.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
run() {
  if command -v xvfb-run >/dev/null 2>&1; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
  else
    QT_QPA_PLATFORM=offscreen "$@"
  fi
}
run "$build/tests/screenshots/quillo_report_screenshot" --output "$out" --language "$language"
run "$build/tests/screenshots/quillo_mainwindow_screenshot" --output "$out" --language "$language"
