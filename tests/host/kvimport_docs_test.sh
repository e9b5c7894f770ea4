#!/usr/bin/env bash
# kvimport's manual page renders without a warning, and it and the bash completion know every
# command, option and exit code that kvimport --help names (and the page names no option that
# --help does not). The completion is run as bash runs it.
#   kvimport_docs_test.sh KVIMPORT MANPAGE COMPLETION
set -uo pipefail
kvimport=$1 page=$2 completion=$3
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! command -v groff >/dev/null; then
  echo "groff is not installed: skipped"
  exit 77
fi
warnings=$(groff -ww -z -t -man -Tutf8 "$page" 2>&1) || fail "groff failed on $page"
[[ -z $warnings ]] || fail "groff warns about $page: $warnings"

help=$("$kvimport" --help) || fail "kvimport --help failed"
# The page's own text, with its escaped hyphens as typed.
page_text=$(sed -e 's/\\-/-/g' "$page")

mapfile -t help_options < <(grep -oE -- '(^|[ ,[|(])--?[a-zA-Z][a-z-]*' <<<"$help" |
  sed -E 's/^[ ,[|(]//' | sort -u)
((${#help_options[@]} >= 20)) || fail "found only ${#help_options[@]} options in --help"
for option in "${help_options[@]}"; do
  grep -qE -- "(^|[^a-zA-Z-])$option([^a-zA-Z-]|\$)" <<<"$page_text" ||
    fail "the manual page does not describe $option"
  grep -qE -- "(^|[^a-zA-Z-])$option([^a-zA-Z-]|\$)" "$completion" ||
    fail "the completion does not offer $option"
done
for option in $(grep -oE -- '(^|[^a-zA-Z-])--[a-z][a-z-]*' <<<"$page_text" |
  sed -E 's/^[^-]//' | sort -u); do
  # Not a pipe: grep -q may stop reading early, which pipefail would count as a failure.
  grep -qxF -- "$option" < <(printf '%s\n' "${help_options[@]}") ||
    fail "the manual page names $option, which --help does not"
done

for command in $(grep -oE '^  kvimport [a-z|]+' <<<"$help" | sed 's/^  kvimport //' | tr '|' '\n' |
  sort -u); do
  grep -qE "^\.(B|TP|SS|SY)? ?$command\$|^\.B $command\$" <<<"$page_text" ||
    fail "the manual page has no entry for the command $command"
  grep -qw -- "$command" "$completion" || fail "the completion does not offer $command"
done

for code in $(grep -oE '^  [0-9]+  ' <<<"$help"); do
  grep -qx "\.B $code" <<<"$page_text" || fail "the manual page does not explain exit code $code"
done

# The completion as bash calls it: COMP_LINE up to the cursor, COMPREPLY back.
complete_line() {
  bash -c 'source "$1"; COMP_LINE=$2; COMP_POINT=${#2}; _kvimport; echo "${COMPREPLY[*]}"' \
    _ "$completion" "$1"
}
expect() {
  local got
  got=$(complete_line "$1")
  [[ $got == "$2" ]] || fail "completing \"$1\" gave \"$got\", not \"$2\""
}
filters=$(grep -oE '^Filters \(F\): [a-z0-9, ]+' <<<"$help" | sed -E 's/^[^:]*: //; s/,//g')
expect "kvimport im" "import"
expect "kvimport import --keep" "--keep-empty"
expect "kvimport list --filter " "$filters"
expect "kvimport list --filter=o" "$(tr ' ' '\n' <<<"$filters" | grep '^o' | tr '\n' ' ' | sed 's/ $//')"
expect "kvimport import --to e" "eml:"
expect "kvimport import --ui s" "script"

((failures == 0)) || exit 1
echo "manual page and completion agree with kvimport --help"
