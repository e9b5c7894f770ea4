# Bash completion of kvimport: commands, options, filter names, --to's destination kinds and the
# folders or files an option takes. Installed as bash-completion/completions/kvimport; keep the
# lists in step with kvimport --help (kvimport_docs_test.sh checks them).

_kvimport() {
  # The words are split at blanks only, from the line as typed up to the cursor; bash itself also
  # splits at ':' and '=' (COMP_WORDBREAKS), which the replies are trimmed for at the end.
  local line=${COMP_LINE:0:COMP_POINT} words cur prev
  read -ra words <<<"$line"
  [[ -z $line || $line == *[[:blank:]] ]] && words+=("")
  cur=${words[-1]}
  prev=""
  ((${#words[@]} > 1)) && prev=${words[-2]}
  # "--name=value" completes the value as "--name value" would.
  local given=$cur prefix=""
  if [[ $cur == --*=* ]]; then
    prev=${cur%%=*}
    prefix=$prev=
    cur=${cur#*=}
  fi
  _kvimport_values "$prev" "$cur" "${words[@]:1:${#words[@]}-2}"
  COMPREPLY=("${COMPREPLY[@]/#/$prefix}")

  # Bash replaces only the part of the word after its last ':' or '=' when those break words.
  local breaks="" tail
  [[ $COMP_WORDBREAKS == *:* ]] && breaks+=":"
  [[ $COMP_WORDBREAKS == *=* ]] && breaks+="="
  if [[ -n $breaks ]]; then
    tail=${given##*[$breaks]}
    local head=${given:0:${#given}-${#tail}}
    [[ -n $head ]] && COMPREPLY=("${COMPREPLY[@]#"$head"}")
  fi
  return 0
}

# Fills COMPREPLY with whole words for `cur`, the word after `prev`; the words before them follow.
_kvimport_values() {
  local prev=$1 cur=$2
  shift 2
  local commands="list import info detect"
  local options="--filter -f --store -s --start --keep-empty -k --to -t --append -a --as-stored
    --inbox --quiet -q --verbose -v --version -V --help -h --ui --code-page --drive --disk --user
    --registry --json --server"
  local filters="eudora netscape oe5 oe4"
  COMPREPLY=()
  case $prev in
    --filter | -f)
      mapfile -t COMPREPLY < <(compgen -W "$filters" -- "$cur")
      return
      ;;
    --store | -s | --disk)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -d -- "$cur")
      return
      ;;
    --registry)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
    --to | -t)
      if [[ $cur == *:* ]]; then
        # The folder after maildir:, mbox: or eml:.
        local kind=${cur%%:*} path=${cur#*:}
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -d -- "$path")
        COMPREPLY=("${COMPREPLY[@]/#/$kind:}")
      else
        compopt -o nospace 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -W "maildir: mbox: eml:" -- "$cur")
      fi
      return
      ;;
    --ui)
      mapfile -t COMPREPLY < <(compgen -W "tty script" -- "$cur")
      return
      ;;
    --code-page)
      mapfile -t COMPREPLY < <(compgen -W "WINDOWS-1250 WINDOWS-1251 WINDOWS-1252 WINDOWS-1253
        WINDOWS-1254 WINDOWS-1255 WINDOWS-1256 WINDOWS-1257 CP437 CP850 CP866 CP932 CP936 CP949
        CP950 UTF-8" -- "$cur")
      return
      ;;
    --start | --inbox | --user | --drive)
      return
      ;;
  esac

  # Options once the command is given; before it the commands and --help, --version.
  local word have_command=""
  for word in "$@"; do
    case $word in list | import | info | detect) have_command=$word ;; esac
  done
  if [[ -z $have_command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands --help -h --version -V" -- "$cur")
  else
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  fi
}

complete -F _kvimport kvimport
