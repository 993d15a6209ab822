# bash completion for vellumcast                                  -*- shell-script -*-
# Installed as .../share/bash-completion/completions/vellumcast; to try it without
# installing: source completion/vellumcast.bash
#
# Completes the switches, the -filesystem values (also after --filesystem=), a folder for
# the source (the first path) and a file for the target (the second path and the value of
# -o or --output=), for the image or device of -compare and -check, and for --exclude-from.

# Every switch vellumcast accepts, one a line: its one-dash form (- when it has none), its
# long form, and what its value is (none: takes no value; filesystem, file, text, time).
# A new switch goes here. Short forms such as -fs, -R and -J are further lines.
_vellumcast_switches='
-filesystem --filesystem filesystem
-label      --label      text
-o          --output     file
-size       --size       none
-time       --time       time
-rockridge  --rockridge  none
-joliet     --joliet     none
-verify     --verify     none
-compare    --compare    file
-check      --check      file
-yes        --yes        none
-quiet      --quiet      none
-?          --help       none
-h          --help       none
-fs         --filesystem filesystem
-F          --filesystem filesystem
-R          --rockridge  none
-J          --joliet     none
-           --checksums  none
-           --exclude    text
-           --exclude-from file
-           --publisher  text
-           --preparer   text
-           --application text
-           --volume-set text
-           --system-id  text
-           --boot       file
-           --boot-catalog text
-           --boot-load-size text
-           --boot-info-table none
-           --efi-boot   file
-           --hybrid     none
-           --hybrid-mbr file
-           --version    none
'

# The -filesystem values, as the program accepts them (case does not matter).
_vellumcast_filesystems=('ISO9660' 'ISO9660 + UDF 1.02' 'UDF 1.02' 'UDF 2.50'
                         'CD' 'DVD' 'BD' 'UHD' '0' '1' '2' '3')

# _vellumcast_value_kind WORD: prints what the switch WORD takes as value (see the table).
# WORD is a name, a short form, or a beginning of a name that only one switch has (as
# vellumcast reads it). A switch the table does not know takes no value.
_vellumcast_value_kind() {
  local word=$1 short long kind name found="" count=0 kind_found=none
  while read -r short long kind; do
    [[ -n $short ]] || continue
    [[ $word == "$short" || $word == "$long" ]] && { echo "$kind"; return; }
    if [[ $word == --* ]]; then name=$long; else name=$short; fi
    [[ $name != - && $name == "$word"* && $found != *" $name "* ]] || continue
    found+=" $name "
    ((count++))
    kind_found=$kind
  done <<<"$_vellumcast_switches"
  if ((count == 1)); then echo "$kind_found"; else echo none; fi
}

# _vellumcast_paths dirs|files: folder or file names for the word being completed.
_vellumcast_paths() {
  if declare -F _filedir >/dev/null; then
    if [[ $1 == dirs ]]; then _filedir -d; else _filedir; fi
    return
  fi
  local IFS=$'\n'
  if [[ $1 == dirs ]]; then COMPREPLY=($(compgen -d -- "$cur"))
  else COMPREPLY=($(compgen -f -- "$cur")); fi
  compopt -o filenames 2>/dev/null
}

# The -filesystem values that begin with what is typed, quoted for the command line; with
# a first argument (such as "--filesystem="), each after it.
_vellumcast_filesystem_values() {
  local lead=${1-} typed=${cur#"${1-}"} quote="" value
  case $typed in \"* | \'*) quote=${typed:0:1}; typed=${typed:1} ;; esac
  typed=${typed//\\/}
  COMPREPLY=()
  for value in "${_vellumcast_filesystems[@]}"; do
    [[ ${value,,} == "${typed,,}"* ]] || continue
    if [[ -n $quote ]]; then COMPREPLY+=("$lead$value")
    else COMPREPLY+=("$lead$(printf '%q' "$value")"); fi
  done
}

_vellumcast() {
  local cur prev words cword
  if declare -F _init_completion >/dev/null; then
    _init_completion -n := || return  # keeps "a:b" and "a=b" paths in one word
  else
    words=("${COMP_WORDS[@]}") cword=$COMP_CWORD
    cur=${words[cword]} prev=${words[cword - 1]}
  fi
  COMPREPLY=()

  # A long form's value joined with '=' (one word, or split at '=' by bash).
  local joined=$cur
  if [[ $cur != --*=* && $prev == "=" ]] && ((cword > 1)); then
    joined=${words[cword - 2]}=$cur
  elif [[ $cur == "=" ]] && ((cword > 0)); then
    joined=$prev=
  fi
  if [[ $joined == --*=* ]]; then
    local kind
    kind=$(_vellumcast_value_kind "${joined%%=*}")
    if [[ $cur == --*=* ]]; then
      case $kind in
        filesystem) _vellumcast_filesystem_values "${cur%%=*}="; return ;;
        file)
          local lead=${cur%%=*}= IFS=$'\n'
          COMPREPLY=($(compgen -f -- "${cur#*=}"))
          COMPREPLY=("${COMPREPLY[@]/#/$lead}")
          return
          ;;
      esac
    else
      [[ $cur == "=" ]] && cur=""
      case $kind in
        filesystem) _vellumcast_filesystem_values; return ;;
        file) _vellumcast_paths files; return ;;
      esac
    fi
    return
  fi

  # The value of a switch.
  if ((cword > 1)) && [[ $prev == -?* ]]; then
    case $(_vellumcast_value_kind "$prev") in
      filesystem) _vellumcast_filesystem_values; return ;;
      file) _vellumcast_paths files; return ;;
      text | time) return ;;
    esac
  fi

  if [[ $cur == -* ]]; then
    local short long kind names=()
    while read -r short long kind; do
      [[ -n $short ]] || continue
      [[ $short == - || $short == "-?" ]] || names+=("$short")
      [[ " ${names[*]} " == *" $long "* ]] || names+=("$long")
    done <<<"$_vellumcast_switches"
    COMPREPLY=($(compgen -W "${names[*]}" -- "$cur"))
    return
  fi

  # Paths: count the ones before this word, skipping switches and their values.
  local i=1 paths=0 word
  while ((i < cword)); do
    word=${words[i]}
    if [[ $word == -?* ]]; then
      [[ $(_vellumcast_value_kind "$word") == none ]] || ((i++))
    else
      ((paths++))
    fi
    ((i++))
  done
  case $paths in
    0) _vellumcast_paths dirs ;;
    1) _vellumcast_paths files ;;
  esac
}
complete -F _vellumcast vellumcast
