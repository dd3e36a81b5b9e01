#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs a build with "cmake --install" into a temporary prefix and checks
# the tree: the programs, libjobsched, the language files, the desktop file
# and the icon, the manual page and the bash completion of qdefrag; that the
# run paths of the installed programs and library stay inside the prefix
# (never the build tree) and that the libraries they need are found there;
# that the installed qdefrag runs; and that the manual page and the
# completion know every command and long option of the installed tool.
# The prefix is removed at the end, whatever happened.
set -uo pipefail

usage() {
  echo "usage: $0 --cmake CMAKE --build-dir DIR --source-dir DIR --bindir D --libdir D" \
       "--datadir D --mandir D --window 0|1 --jobsched 0|1" >&2
  exit 2
}

cmake_program='' build_dir='' source_dir='' bindir='' libdir='' datadir='' mandir='' window='' jobsched=''
while (($#)); do
  (($# >= 2)) || usage
  case $1 in
    --cmake) cmake_program=$2 ;;
    --build-dir) build_dir=$2 ;;
    --source-dir) source_dir=$2 ;;
    --bindir) bindir=$2 ;;
    --libdir) libdir=$2 ;;
    --datadir) datadir=$2 ;;
    --mandir) mandir=$2 ;;
    --window) window=$2 ;;
    --jobsched) jobsched=$2 ;;
    *) usage ;;
  esac
  shift 2
done
for value in "$cmake_program" "$build_dir" "$source_dir" "$bindir" "$libdir" "$datadir" \
             "$mandir" "$window" "$jobsched"; do
  [[ -n $value ]] || usage
done
build_dir=$(realpath -- "$build_dir")
source_dir=$(realpath -- "$source_dir")

prefix=$(mktemp -d "${TMPDIR:-/tmp}/quillo-install-XXXXXX") || exit 1
trap 'rm -rf -- "$prefix"' EXIT
prefix=$(realpath -- "$prefix")

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Only the prefix given here decides where files go; the libraries of the
# installed programs are found through their own run paths.
unset DESTDIR LD_LIBRARY_PATH

if ! output=$("$cmake_program" --install "$build_dir" --prefix "$prefix" 2>&1); then
  echo "$output" >&2
  echo "FAIL: cmake --install $build_dir --prefix $prefix failed" >&2
  exit 1
fi

# --- The file list ----------------------------------------------------------
expect_file() {
  [[ -f $prefix/$1 ]] || fail "not installed: $1"
}
expect_program() {
  [[ -f $prefix/$1 && -x $prefix/$1 ]] || fail "not installed as a program: $1"
}

expect_program "$bindir/qdefrag"
expect_file "$mandir/man1/qdefrag.1"
expect_file "$datadir/bash-completion/completions/qdefrag"
language_count=0
for language in "$source_dir"/language/*.lng; do
  [[ -e $language ]] || continue
  language_count=$((language_count + 1))
  expect_file "$datadir/quillodefrag/language/$(basename -- "$language")"
done
((language_count > 0)) || fail "no language file in $source_dir/language"

if ((jobsched)); then
  # The link name the programs are linked against, or a versioned file.
  compgen -G "$prefix/$libdir/libjobsched.so*" >/dev/null ||
    fail "not installed: $libdir/libjobsched.so"
fi
if ((window)); then
  expect_program "$bindir/quillodefrag"
  desktop=$prefix/$datadir/applications/quillodefrag.desktop
  expect_file "$datadir/applications/quillodefrag.desktop"
  expect_file "$datadir/icons/hicolor/scalable/apps/quillodefrag.svg"
  if [[ -f $desktop ]]; then
    # The desktop file names what was installed: the program and the icon.
    exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" | head -n 1)
    icon_name=$(sed -n 's/^Icon=//p' "$desktop" | head -n 1)
    [[ -n $exec_name && -x $prefix/$bindir/$(basename -- "$exec_name") ]] ||
      fail "the desktop file starts '$exec_name', which is not in $bindir"
    if [[ -z $icon_name ]] ||
       ! compgen -G "$prefix/$datadir/icons/hicolor/*/apps/$icon_name.*" >/dev/null; then
      fail "the desktop file names the icon '$icon_name', which is not installed"
    fi
  fi
fi

# --- Run paths --------------------------------------------------------------
# Prints the entries of the RUNPATH (or RPATH) of an ELF file, one a line.
run_path_entries() {
  readelf -d -- "$1" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]$/\2/p' | tr ':' '\n' |
    sed '/^$/d'
}

inside_prefix() {
  case $1 in
    "$prefix" | "$prefix"/*) return 0 ;;
    *) return 1 ;;
  esac
}

check_elf() {
  local file=$1 shown=${1#"$prefix"/} entry expanded resolved needed name line found
  local origin
  origin=$(dirname -- "$file")
  while IFS= read -r entry; do
    case $entry in
      *"$build_dir"* | *"$source_dir"*)
        fail "$shown: run path entry '$entry' points into the build or source tree"
        continue
        ;;
    esac
    # shellcheck disable=SC2016 # the literal word $ORIGIN of the loader
    expanded=${entry//'${ORIGIN}'/$origin}
    # shellcheck disable=SC2016
    expanded=${expanded//'$ORIGIN'/$origin}
    if [[ $expanded != /* ]]; then
      fail "$shown: run path entry '$entry' is relative to the working folder"
      continue
    fi
    resolved=$(realpath -m -- "$expanded")
    inside_prefix "$resolved" || fail "$shown: run path entry '$entry' leads out of the prefix"
  done < <(run_path_entries "$file")

  # Each library of the prefix that the file needs must be found in the
  # prefix, by the dynamic loader itself.
  while IFS= read -r needed; do
    name=${needed##*/}
    compgen -G "$prefix/$libdir/$name" >/dev/null || continue
    line=$(ldd -- "$file" 2>&1 | grep -F -- "$name =>" | head -n 1)
    found=$(sed -n 's/.*=> \(\/[^ ]*\) .*/\1/p' <<<"$line")
    if [[ -z $found ]]; then
      fail "$shown: $name is not found (${line:-ldd names it not})"
    elif ! inside_prefix "$(realpath -- "$found")"; then
      fail "$shown: $name is loaded from $found, outside the prefix"
    fi
  done < <(readelf -d -- "$file" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
}

elf_count=0
while IFS= read -r -d '' file; do
  [[ $(head -c 4 -- "$file" | od -An -c | tr -d ' ') == '177ELF' ]] || continue
  elf_count=$((elf_count + 1))
  check_elf "$file"
done < <(find "$prefix/$bindir" "$prefix/$libdir" -type f -print0 2>/dev/null)
((elf_count > 0)) || fail "no program or library in $bindir and $libdir"

if ((window && jobsched)) && [[ -f $prefix/$bindir/quillodefrag ]]; then
  # The window cannot start without libjobsched: it must be one of the
  # libraries checked above.
  readelf -d -- "$prefix/$bindir/quillodefrag" | grep -q 'NEEDED.*\[libjobsched\.so' ||
    fail "$bindir/quillodefrag does not need libjobsched (the check above saw nothing)"
fi

# --- The installed qdefrag runs ---------------------------------------------
qdefrag=$prefix/$bindir/qdefrag
help_text=
if [[ -x $qdefrag ]]; then
  if ! help_text=$(cd / && "$qdefrag" --help 2>&1); then
    echo "$help_text" >&2
    fail "the installed qdefrag --help failed"
  fi
  [[ $help_text == "Usage: qdefrag"* ]] || fail "the installed qdefrag --help printed no usage"
fi

# --- The manual page and the completion know the tool ------------------------
manual=$prefix/$mandir/man1/qdefrag.1
completion=$prefix/$datadir/bash-completion/completions/qdefrag
if [[ -n $help_text && -f $manual && -f $completion ]]; then
  # Long options as --help lists them, and the commands of its usage lines.
  mapfile -t options < <(grep -o -- '--[a-z][a-z-]*' <<<"$help_text" | LC_ALL=C sort -u)
  mapfile -t commands < <(sed -n 's/^ *\(Usage:\|or:\) *qdefrag \([a-z]*\).*/\2/p' <<<"$help_text" |
    sort -u)
  ((${#options[@]} >= 10 && ${#commands[@]} >= 4)) ||
    fail "too few options (${#options[@]}) or commands (${#commands[@]}) read from --help"
  for option in "${options[@]}"; do
    grep -qF -- "${option//-/\\-}" "$manual" || fail "the manual page does not describe $option"
    grep -qwF -- "$option" "$completion" || fail "the completion does not offer $option"
  done
  for command in "${commands[@]}"; do
    grep -qE -- "^\.B(R)? qdefrag $command\b" "$manual" ||
      fail "the manual page has no synopsis of '$command'"
    grep -qw -- "$command" "$completion" || fail "the completion does not offer '$command'"
  done
fi

if [[ -f $manual ]] && command -v groff >/dev/null; then
  warnings=$(groff -ww -z -man -- "$manual" 2>&1)
  [[ -z $warnings ]] || fail "groff warns about the manual page: $warnings"
fi

if [[ -f $completion ]]; then
  # Completes as readline would ask it to, in a plain bash without user
  # files; the targets are looked for in a folder of the prefix.
  mkdir -p "$prefix/images" && : >"$prefix/images/disk.img"
  mkdir -p "$prefix/config" &&
    printf '[drives]\nC=%s\n' "$prefix/images/disk.img" >"$prefix/config/drives.ini"
  completed=$(cd "$prefix/images" && QUILLODEFRAG_HOME=$prefix/config bash --norc --noprofile -c '
    source "$1" || exit 1
    complete -p qdefrag >/dev/null || exit 1
    show() {
      COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
      _qdefrag qdefrag "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
      printf "%s|" "${COMPREPLY[@]}"; echo
    }
    show qdefrag ""
    show qdefrag def
    show qdefrag window --
    show qdefrag analyze --sort ""
    show qdefrag analyze --json ""
  ' bash "$completion" 2>&1)
  expected='analyze|defrag|list|window|
defrag|
--help|--run-schedule|--show|--stop-and-exit|
clusters|fragments|name|result|
C:|demo:|demo:fat32|disk.img|'
  # Order within a line does not matter.
  sorted=$(while IFS= read -r line; do tr '|' '\n' <<<"$line" | sed '/^$/d' | LC_ALL=C sort | tr '\n' '|'; echo; done \
    <<<"$completed")
  [[ $sorted == "$expected" ]] ||
    fail "the completion offers:"$'\n'"$completed"$'\n'"expected (in any order within a line):"$'\n'"$expected"
fi

if ((failures)); then
  echo "$failures check(s) of the tree installed from $build_dir failed" >&2
  echo "installed files:" >&2
  (cd "$prefix" && find . -type f -o -type l | sort) >&2
  exit 1
fi
echo "installed tree complete: $elf_count programs and libraries, $language_count language files"
