#!/usr/bin/env zsh
# Runs lu14's zsh completion for real: an interactive zsh on a pseudo-terminal
# (zpty) with compinit and _lu14 on its fpath types each case's command line
# and presses Tab. compadd is wrapped there so that every match completion
# adds is printed between two marks; those are compared, as a set, with what
# the case expects.
# usage: ZshCompletionTest.zsh SCRIPT CASES
#        ZshCompletionTest.zsh SCRIPT --help-of LU14   (cases from lu14's help)
# The cases are those of BashCompletionTest.sh.
emulate -L zsh
setopt err_return pipe_fail
zmodload zsh/zpty

local script=${1:A} here=${0:A:h} cases
if [[ $2 == --help-of ]]; then
  cases=$(bash $here/HelpCases.sh $3)
else
  cases=$(grep -vE '^\s*(#|$)' $2)
fi

local scratch=$(mktemp -d ${TMPDIR:-/tmp}/lu14-zsh-completion.XXXXXX)
trap "zpty -d lu14 2>/dev/null; rm -rf ${(q)scratch}" EXIT
mkdir $scratch/functions $scratch/folder
cp $script $scratch/functions/_lu14
source $here/Folder.sh
make_folder $scratch/folder

# The shell under test: no start-up files, no listing or menu (a long list
# would stop to ask), and Tab bound to a widget that marks where the matches
# begin and end. compadd with -O, -A or -D only collects (completion
# functions use it to filter): that is passed on unprinted.
cat >$scratch/init.zsh <<INIT
PS1='' RPS1=''
unsetopt auto_list auto_menu beep
LISTMAX=100000
fpath=(${(q)scratch}/functions \$fpath)
autoload -Uz compinit && compinit -u -D
compadd() {
  if [[ \${@[1,(i)(-|--)]} == *-(O|A|D)\\ * ]]; then
    builtin compadd "\$@"
    return
  fi
  local -a found
  local match
  builtin compadd -O found "\$@"
  for match in \$found; do print -r -- "<match>\$match</match>"; done
  builtin compadd "\$@"
}
marked-complete() {
  print -r -- "<start>"
  zle complete-word
  print -r -- "<end>"
}
zle -N marked-complete
bindkey '^I' marked-complete
cd ${(q)scratch}/folder
INIT

zpty lu14 zsh -f -i
zpty -w lu14 "source ${(q)scratch}/init.zsh; print -r -- REA''DY"
local out
zpty -r lu14 out '*READY*'

integer failed=0 count=0
local case_line line row
local -a words expected offered missing extra
for case_line in ${(f)cases}; do
  words=("${(@Q)${(z)case_line}}")
  line=$words[1]
  expected=("${(@)words[2,-1]}")
  (( ${expected[(Ie)@files]} )) && expected=("${(@)expected:#@files}" "${(@)folder_files}")
  zpty -w -n lu14 "$line"$'\t'
  zpty -r lu14 out '*<end>*'
  out=${out##*<start>}
  out=${out%%<end>*}
  # Anything else the widget printed (an error of _lu14) fails the case.
  offered=()
  for row in ${(f)out//$'\r'/}; do
    if [[ $row == '<match>'*'</match>' ]]; then
      row=${row#<match>}
      offered+=("${(Q)row%</match>}")
    elif [[ -n ${row//[[:space:]]/} ]]; then
      offered+=("(printed) $row")
    fi
  done
  (( ++count ))
  if [[ ${(F)${(ou)offered}} != ${(F)${(ou)expected}} ]]; then
    failed=1
    print -r -- "\"$line\":"
    missing=("${(@ou)expected:|offered}")
    extra=("${(@ou)offered:|expected}")
    print -r -- "  not offered: ${(j:|:)missing}"
    print -r -- "  offered, not expected: ${(j:|:)extra}"
  fi
  # The line, and whatever completion put into it, goes.
  zpty -w -n lu14 $'\C-e\C-u'
done
(( count > 0 )) || { print -r -- "no cases"; exit 1 }
(( failed == 0 )) && print -r -- "zsh completion: all $count cases offer what they should"
exit $failed
