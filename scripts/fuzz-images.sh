#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Whole-image fuzzing of qdefrag: small FAT32 and NTFS images made with
# mkfs.fat/mtools and mkntfs/ntfscp in a temporary folder get random byte
# flips in their metadata (boot sector, reserved area and FATs, root
# directory; boot sector, MFT and its mirror), and each damaged copy is
# analysed and then defragmented. A run fails on a crash, a sanitizer
# report, a hang or an unexpected exit code, and when an image qdefrag
# refused or only analysed is not byte-identical afterwards. Nothing is
# mounted; only the images made here are written. Not part of CI: it takes
# a while.
#
#   bash scripts/fuzz-images.sh [COUNT]      (default 200 damaged images)
#
# QDEFRAG=path uses that binary; otherwise qdefrag is built with
# AddressSanitizer and UndefinedBehaviorSanitizer in build/fz.
set -euo pipefail
cd "$(dirname "$0")/.."

count="${1:-200}"
if ! [[ "$count" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz-images.sh [COUNT]" >&2
  exit 2
fi
analyse_timeout=60
defrag_timeout=180
# Exit codes qdefrag may give here: 0 done, 1 a volume failed or was refused.
sanitizer_exit=86

qdefrag="${QDEFRAG:-}"
if [ -z "$qdefrag" ]; then
  cmake -S . -B build/fz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_SANITIZE=ON \
    -DQUILLO_BUILD_TESTS=OFF -DQUILLO_BUILD_GUI=OFF >/dev/null
  cmake --build build/fz -j "$(nproc)" --target qdefrag
  qdefrag="$PWD/build/fz/src/cli/qdefrag"
fi
export PATH="$PATH:/usr/sbin:/sbin"
export ASAN_OPTIONS="exitcode=$sanitizer_exit:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=$sanitizer_exit"
export MTOOLS_SKIP_CHECK=1

work="$(mktemp -d "${TMPDIR:-/tmp}/quillo-fuzz-images-XXXXXX")"
export QUILLODEFRAG_HOME="$work/home"
mkdir -p "$QUILLODEFRAG_HOME" "$work/kept"

# --- Base images -----------------------------------------------------------
fat="$work/base-fat32.bin"
mkfs.fat -F 32 -s 1 -n QUILLO -C "$fat" $((36 * 1024)) >/dev/null
head -c 300000 /dev/urandom >"$work/big"
head -c 1500 /dev/urandom >"$work/small"
mmd -i "$fat" ::Windows ::Windows/System32 "::Long directory name"
for i in 1 2 3 4 5 6; do
  mcopy -i "$fat" "$work/small" "::Windows/file $i.dll"
  mcopy -i "$fat" "$work/big" "::Long directory name/part $i.bin"
done
# Holes between the files, then a file that has to fill them: fragments.
for i in 2 4 6; do mdel -i "$fat" "::Long directory name/part $i.bin"; done
head -c 800000 /dev/urandom >"$work/large"
mcopy -i "$fat" "$work/large" "::fragmented.bin"

ntfs="$work/base-ntfs.bin"
truncate -s $((16 << 20)) "$ntfs"
mkntfs -F -Q -q -c 4096 -L QUILLO "$ntfs" >/dev/null 2>&1
for i in 1 2 3 4; do
  ntfscp -q "$ntfs" "$work/big" "file $i.bin"
  ntfscp -q "$ntfs" "$work/small" "small $i.txt"
done

# --- Damage, run, check -----------------------------------------------------
# flip.py IMAGE SEED: flips 1 to 8 bytes in the image's metadata areas.
cat >"$work/flip.py" <<'PY'
import random, struct, sys
path, seed = sys.argv[1], int(sys.argv[2])
rng = random.Random(seed)
with open(path, "r+b") as f:
    head = f.read(512)
    areas = [(0, 512)]
    if head[82:87] == b"FAT32":
        bps, spc, reserved, fats = struct.unpack_from("<HBHB", head, 11)
        fat_sectors = struct.unpack_from("<I", head, 36)[0]
        data = (reserved + fats * fat_sectors) * bps
        areas += [(0, reserved * bps), (reserved * bps, data), (data, data + 16 * bps * spc)]
    else:
        cluster = struct.unpack_from("<H", head, 11)[0] * head[13]
        for field in (0x30, 0x38):  # $MFT and $MFTMirr
            start = struct.unpack_from("<q", head, field)[0] * cluster
            areas.append((start, start + 64 * 1024))
    for _ in range(rng.randint(1, 8)):
        start, end = rng.choice(areas)
        offset = rng.randrange(start, end)
        f.seek(offset)
        byte = f.read(1)[0]
        f.seek(offset)
        f.write(bytes([byte ^ rng.randint(1, 255)]))
PY

failures=0
# outcome JSON: "refused" when every volume of the report was refused, or
# failed before it could be analysed (nothing may have been written to it);
# "" otherwise.
outcome() {
  python3 -c '
import json, sys
try:
    report = json.load(open(sys.argv[1]))
except Exception:
    print(""); sys.exit(0)
volumes = report.get("volumes", []) if isinstance(report, dict) else []
untouched = lambda v: v.get("outcome") == "refused" or (
    v.get("outcome") == "failed" and "totalClusters" not in v)
print("refused" if volumes and all(untouched(v) for v in volumes) else "")
' "$1"
}

# check NAME EXIT: records a failure for an exit code qdefrag must not give.
check() {
  local name="$1" code="$2"
  case "$code" in
    0|1) return 0 ;;
    124) echo "fuzz-images: $name: timed out" >&2 ;;
    134|139) echo "fuzz-images: $name: crashed (exit $code)" >&2 ;;
    "$sanitizer_exit") echo "fuzz-images: $name: sanitizer report" >&2 ;;
    *) echo "fuzz-images: $name: exit $code" >&2 ;;
  esac
  return 1
}

for ((i = 0; i < count; i++)); do
  if ((i % 2 == 0)); then base="$fat"; kind=fat32; else base="$ntfs"; kind=ntfs; fi
  seed=$((RANDOM * 32768 + RANDOM))
  name="$kind-$seed"
  image="$work/$name.bin"
  cp "$base" "$image"
  python3 "$work/flip.py" "$image" "$seed"
  before="$(sha256sum <"$image")"
  bad=0

  code=0
  timeout "$analyse_timeout" "$qdefrag" analyze --json "$image" >"$work/out.json" 2>"$work/err" || code=$?
  check "$name analyze" "$code" || bad=1
  if [ "$(sha256sum <"$image")" != "$before" ]; then
    echo "fuzz-images: $name: analyze changed the image" >&2
    bad=1
  fi

  code=0
  timeout "$defrag_timeout" "$qdefrag" defrag --optimize --json "$image" >"$work/out.json" 2>>"$work/err" || code=$?
  check "$name defrag" "$code" || bad=1
  if [ "$code" -ne 0 ] && [ "$(outcome "$work/out.json")" = refused ] &&
     [ "$(sha256sum <"$image")" != "$before" ]; then
    echo "fuzz-images: $name: defrag refused the volume but changed the image" >&2
    bad=1
  fi

  if [ "$bad" -ne 0 ]; then
    failures=$((failures + 1))
    cp "$base" "$work/kept/$name.original.bin"
    python3 "$work/flip.py" "$work/kept/$name.original.bin" "$seed"
    cp "$work/err" "$work/kept/$name.stderr"
    tail -n 20 "$work/err" >&2
  fi
  rm -f "$image"
  rm -rf "${QUILLODEFRAG_HOME:?}"/*
done

if [ "$failures" -ne 0 ]; then
  echo "fuzz-images: $failures of $count images failed; damaged images kept in $work/kept" >&2
  exit 1
fi
rm -rf "$work"
echo "fuzz-images: $count damaged images, no crash, hang or change to a refused image"
