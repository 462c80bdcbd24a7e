#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Drives the bash completion of ferrybox-cli the way bash does: the words of
# a command line in, the offered completions out.
# Usage: completion_test.sh COMPLETION_FILE
set -u
completion=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
# shellcheck source=/dev/null
source "$completion"
failures=0

# check WORD... => EXPECTED...: the last word is the one being completed.
check() {
  local -a words=()
  while [[ $1 != '=>' ]]; do words+=("$1"); shift; done
  shift
  COMP_WORDS=("${words[@]}")
  COMP_CWORD=$((${#words[@]} - 1))
  COMPREPLY=()
  _ferrybox_cli
  local got want
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort)
  want=$(printf '%s\n' "$@" | sort)
  if [[ $got != "$want" ]]; then
    printf 'FAIL: %s\n  offered: %s\n  expected: %s\n' "${words[*]}" \
      "${got//$'\n'/ | }" "${want//$'\n'/ | }"
    failures=$((failures + 1))
  fi
}

# A portable copy that can write beside itself, with its profiles there.
portable=$scratch/portable
mkdir -p "$portable/profiles/folder.prf"
printf '#!/bin/sh\n' >"$portable/ferrybox-cli"
chmod +x "$portable/ferrybox-cli"
for name in nightly.prf 'two words.prf' old.prf.bak a.prf.prf .hidden.prf \
  notes.txt; do
  : >"$portable/profiles/$name"
done
# A link to a program under /usr is an installed copy: the profiles beside
# the link are not the program's.
mkdir -p "$scratch/linked/profiles"
ln -s /usr/bin/env "$scratch/linked/ferrybox-cli"
: >"$scratch/linked/profiles/beside.prf"
mkdir -p "$scratch/xdg/ferrybox/profiles" "$scratch/home/.config/ferrybox/profiles"
: >"$scratch/xdg/ferrybox/profiles/from-xdg.prf"
: >"$scratch/home/.config/ferrybox/profiles/from-home.prf"
mkdir -p "$scratch/cwd/alpha" "$scratch/cwd/beta" "$scratch/cwd/-dash"
: >"$scratch/cwd/afile"
cd "$scratch/cwd" || exit 1

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/xdg PATH=/usr/bin:/bin
all_options=(--incremental --show-files --profile --exclude --exclude-from
  --exclude-caches --check-attributes --keep-versions --dry-run --help
  --version --)
portable_profiles=(nightly 'two words' old.prf.bak a.prf.prf .hidden)
p=$portable/ferrybox-cli

# Options, and folders (never files) for the two folder arguments.
check ferrybox-cli --in '=>' --incremental
check ferrybox-cli -- '=>' "${all_options[@]}"
check ferrybox-cli --incremental a '=>' alpha
# A pattern is not completed; a pattern file is any file.
check ferrybox-cli --exclude a '=>'
check ferrybox-cli --exclude-from a '=>' alpha afile
check ferrybox-cli --exclude-c '=>' --exclude-caches
check ferrybox-cli --dr '=>' --dry-run
# Days: a few usual numbers.
check ferrybox-cli --keep-versions 3 '=>' 30
check ferrybox-cli --incremental -- - '=>' -dash
# Profiles beside a portable copy, offered by the shortest name that runs
# them, after "--profile NAME" and "--profile=NAME" however "=" splits.
check "$p" --profile '' '=>' "${portable_profiles[@]}"
check "$p" --profile tw '=>' 'two words'
check "$p" --profile = '=>' "${portable_profiles[@]}"
check "$p" --profile = ni '=>' nightly
check "$p" --profile=ni '=>' --profile=nightly
# An installed copy, or one not found, takes the per-user folder.
check "$scratch/linked/ferrybox-cli" --profile '' '=>' from-xdg
XDG_CONFIG_HOME=relative check ferrybox-cli --profile '' '=>' from-home

if ((failures > 0)); then
  echo "$failures completion checks failed"
  exit 1
fi
echo "all completion checks passed"
