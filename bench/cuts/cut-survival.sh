#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# What an interrupted pass leaves for a system that does not know our NTFS
# journal: qdefrag is killed (SIGKILL) at a random moment of a
# "Defrag & Optimize" pass on a copy of a test image, the journal it leaves in
# its configuration folder is ignored, and the volume is looked at with other
# tools only. Works on copies in a temporary folder; the images given are
# only read.
#
#   bench/cuts/cut-survival.sh ntfs IMAGE MANIFEST [TRIALS]
#       MANIFEST as tests/fixtures/make_ntfs_image.py writes it; per trial:
#       files readable and intact by ntfscat, then what ntfsfix does, then
#       the files intact after ntfsfix, and whether ntfsresize finds the
#       volume consistent; then, on another copy of the cut image, whether
#       the journal file is left in use, and what `qdefrag analyze` run with
#       a new, empty configuration folder makes of the volume (the repair
#       from the journal on the volume), files and ntfsresize after it
#   bench/cuts/cut-survival.sh fat32 IMAGE MANIFEST [TRIALS]
#       MANIFEST as tests/fixtures/fat32_image.py writes it; per trial: the
#       files intact by mcopy after fsck.fat -a
#
# QDEFRAG (default build/release/src/cli/qdefrag) is the program cut.
set -euo pipefail
here="$(cd "$(dirname "$0")/../.." && pwd)"
kind="$1"; image="$2"; manifest="$3"; trials="${4:-20}"
qdefrag="${QDEFRAG:-$here/build/release/src/cli/qdefrag}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# How long a whole pass takes, to spread the cuts over it.
cp "$image" "$work/timing.img"
start=$(date +%s%N)
QUILLODEFRAG_HOME="$work/home-timing" "$qdefrag" defrag --optimize --quiet "$work/timing.img" >/dev/null 2>&1 || true
whole_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo "whole pass: ${whole_ms} ms; load: $(cut -d' ' -f1-3 /proc/loadavg)"

ntfs_intact() { # IMAGE -> "intact total"
  local img="$1" ok=0 all=0
  while read -r sha crc size kindname path; do
    all=$((all + 1))
    # -f: the volume is marked dirty after a cut, which ntfscat otherwise refuses.
    got=$(ntfscat -f "$img" "$path" 2>/dev/null | sha256sum | cut -d' ' -f1) || true
    [ "$got" = "$sha" ] && ok=$((ok + 1))
  done < "$manifest"
  echo "$ok $all"
}

for trial in $(seq 1 "$trials"); do
  copy="$work/cut.img"
  cp "$image" "$copy"
  home="$work/home-$trial"
  cut_ms=$(( (RANDOM * 32768 + RANDOM) % (whole_ms > 1 ? whole_ms : 1) ))
  QUILLODEFRAG_HOME="$home" "$qdefrag" defrag --optimize --quiet "$copy" >/dev/null 2>&1 &
  pid=$!
  sleep "$(printf '0.%03d' $((cut_ms % 1000)))"; sleep $((cut_ms / 1000))
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  if [ "$kind" = ntfs ]; then
    # A journal left behind means the cut fell inside a write session.
    if [ -n "$(ls -A "$home/journal" 2>/dev/null)" ]; then session="inside a write session"; else session="outside writes"; fi
    if ntfsresize --info --no-action "$copy" >/dev/null 2>&1; then sound=consistent; else sound=INCONSISTENT; fi
    # What our own repair does without the folder that ran the pass.
    cp "$copy" "$work/repair.img"
    if fls "$work/repair.img" 2>/dev/null | grep -q "QuilloDefrag.journal"; then left="journal file in use"; else left="no journal file"; fi
    repair=$(QUILLODEFRAG_HOME="$work/fresh-$trial" "$qdefrag" analyze "$work/repair.img" 2>&1 | grep -oE "repaired from its journal|refused: [^.]*|Analyzed" | head -1 || true)
    if ntfsresize --info --no-action "$work/repair.img" >/dev/null 2>&1; then repaired=consistent; else repaired=INCONSISTENT; fi
    after_repair=$(ntfs_intact "$work/repair.img")
    before=$(ntfs_intact "$copy")
    fix=$(ntfsfix "$copy" 2>&1 | grep -E "processed successfully|FAILED|Error|error|inconsistent|Refusing|dirty" | head -2 | tr '\n' ' ' || true)
    after=$(ntfs_intact "$copy")
    # -f: ntfsfix leaves the volume scheduled for chkdsk, which ntfsresize
    # otherwise refuses to look at.
    if ntfsresize -f --info --no-action "$copy" >/dev/null 2>&1; then consistent=consistent; else consistent=INCONSISTENT; fi
    echo "cut at ${cut_ms} ms ($session, $left): ntfsresize $sound; intact ${before% *}/${before#* }; ntfsfix: ${fix:-(no summary)}; then intact ${after% *}/${after#* }, ntfsresize -f $consistent; qdefrag analyze from a new folder: ${repair:-?}, then intact ${after_repair% *}/${after_repair#* }, ntfsresize $repaired"
  else
    fsck=$(fsck.fat -a "$copy" 2>&1 | tail -1 || true)
    check=$(python3 "$here/tests/fixtures/fat32_image.py" check --image "$copy" --manifest "$manifest" --work "$work/check" | grep -E "^CONTENT" || true)
    echo "cut at ${cut_ms} ms: fsck.fat -a: ${fsck}; ${check:-CONTENT ?}"
  fi
done
