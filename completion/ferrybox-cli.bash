# SPDX-License-Identifier: GPL-3.0-or-later
# Bash completion for ferrybox-cli: its options, folders, and the names of
# the profiles saved in its program folder.

# Sets _ferrybox_cli_folder to the program folder of the ferrybox-cli named
# by $1, by the program's own rule: beside a portable copy that can write
# there, else $XDG_CONFIG_HOME/ferrybox or ~/.config/ferrybox. A copy
# under /usr, /bin, /sbin or /opt is never portable.
_ferrybox_cli_program_folder() {
  local program=$1 path
  # The command word as typed: "~/" is not yet expanded.
  # shellcheck disable=SC2088
  [[ $program == '~/'* ]] && program=$HOME/${program#'~/'}
  _ferrybox_cli_folder=
  # The program reads its own path with links resolved; so does this.
  if path=$(type -P -- "$program") && path=$(readlink -f -- "$path"); then
    case $path in
      /usr/* | /bin/* | /sbin/* | /opt/*) ;;
      *) [[ -w ${path%/*} ]] && _ferrybox_cli_folder=${path%/*} ;;
    esac
  fi
  if [[ -z $_ferrybox_cli_folder ]]; then
    if [[ $XDG_CONFIG_HOME == /* ]]; then
      _ferrybox_cli_folder=$XDG_CONFIG_HOME/ferrybox
    else
      _ferrybox_cli_folder=$HOME/.config/ferrybox
    fi
  fi
}

# Adds to COMPREPLY the profiles that begin with $2, each prefixed with $3,
# for the ferrybox-cli named by $1. A profile is offered as the shortest
# name that runs it: "work" for work.prf, "old.prf.bak" as it is.
_ferrybox_cli_profiles() {
  local prefix=$2 file name
  # The word as typed may still hold its quoting.
  prefix=${prefix#[\"\']}
  prefix=${prefix//\\/}
  _ferrybox_cli_program_folder "$1"
  # The profile list shows every file whose name holds ".prf", hidden
  # ones too.
  for file in "$_ferrybox_cli_folder"/profiles/{,.}*.prf*; do
    [[ -f $file ]] || continue
    name=${file##*/}
    [[ $name == *.prf && ${name%.prf} != *.prf* ]] && name=${name%.prf}
    [[ $name == "$prefix"* ]] && COMPREPLY+=("${3-}$name")
  done
  compopt -o filenames 2>/dev/null
}

_ferrybox_cli() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
  local program=${COMP_WORDS[0]} i
  COMPREPLY=()

  # "--profile=NAME" arrives as three words when "=" breaks words, and the
  # line then completes only what follows the "=".
  if [[ $prev == --profile && $cur == = ]]; then
    _ferrybox_cli_profiles "$program" ""
    return
  fi
  if [[ $prev == = && ${COMP_WORDS[COMP_CWORD - 2]} == --profile ]] ||
    [[ $prev == --profile ]]; then
    _ferrybox_cli_profiles "$program" "$cur"
    return
  fi
  if [[ $cur == --profile=* ]]; then
    _ferrybox_cli_profiles "$program" "${cur#--profile=}" --profile=
    return
  fi

  # A pattern is the user's own; a list of them is a file.
  case $prev in
    --exclude) return ;;
    --keep-versions)
      mapfile -t COMPREPLY < <(compgen -W '0 7 30 90' -- "$cur")
      return
      ;;
    --exclude-from)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
  esac

  local options_ended=
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${COMP_WORDS[i]} == -- ]] && options_ended=1
  done
  if [[ -z $options_ended && $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W \
      '--incremental --show-files --profile --exclude --exclude-from
       --exclude-caches --check-attributes --keep-versions --dry-run --help
       --version --' -- "$cur")
    return
  fi
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -d -- "$cur")
}

complete -F _ferrybox_cli ferrybox-cli
