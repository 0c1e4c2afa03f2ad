#!/usr/bin/env bash
# Drives lu14's bash completion the way bash does: COMP_LINE, COMP_POINT,
# COMP_WORDS (split at blanks and at "=", as bash's COMP_WORDBREAKS splits
# them) and COMP_CWORD, then _lu14, for each case of a table; compares what
# it offers, as a set, with what the case expects.
# usage: BashCompletionTest.sh SCRIPT CASES
#        BashCompletionTest.sh SCRIPT --help-of LU14   (cases from lu14's help)
# A case is a line of shell words: the command line typed so far, then what
# completion must offer there ("@files": every file of the folder it runs in).
set -uo pipefail
script=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
if [[ $2 == --help-of ]]; then
  cases=$(bash "$here/HelpCases.sh" "$3") || exit 1
else
  cases=$(grep -vE '^\s*(#|$)' "$2") || exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lu14-bash-completion.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
source "$here/Folder.sh"
make_folder "$scratch"
cd "$scratch" || exit 1

source /usr/share/bash-completion/bash_completion || exit 1
source "$script" || exit 1
[[ $(complete -p lu14) == *'-F _lu14'* ]] || { echo "$script does not register _lu14 for lu14"; exit 1; }

# What _lu14 offers for a command line typed so far (the cursor at its end),
# one word a line, sorted.
offered() {
  local line=$1 token
  local -a tokens
  COMP_LINE=$line
  COMP_POINT=${#line}
  COMP_WORDS=()
  read -ra tokens <<<"$line"
  for token in "${tokens[@]}"; do
    while [[ $token == *=* ]]; do
      [[ -n ${token%%=*} ]] && COMP_WORDS+=("${token%%=*}")
      COMP_WORDS+=("=")
      token=${token#*=}
    done
    [[ -n $token ]] && COMP_WORDS+=("$token")
  done
  [[ $line == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _lu14 lu14 "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort -u
}

failed=0
count=0
while IFS= read -r case_words; do
  eval "words=($case_words)"
  line=${words[0]}
  expected=("${words[@]:1}")
  for i in "${!expected[@]}"; do
    [[ ${expected[i]} == @files ]] && expected=("${expected[@]:0:i}" "${folder_files[@]}" "${expected[@]:i+1}")
  done
  want=$( ((${#expected[@]} == 0)) || printf '%s\n' "${expected[@]}" | sort -u)
  got=$(offered "$line" 2>&1)
  ((count++))
  if [[ $got != "$want" ]]; then
    failed=1
    echo "\"$line\":"
    echo "  not offered: $(comm -13 <(echo "$got") <(echo "$want") | paste -sd '|')"
    echo "  offered, not expected: $(comm -23 <(echo "$got") <(echo "$want") | paste -sd '|')"
  fi
done <<<"$cases"
((count > 0)) || { echo "no cases"; exit 1; }
((failed == 0)) && echo "bash completion: all $count cases offer what they should"
exit $failed
