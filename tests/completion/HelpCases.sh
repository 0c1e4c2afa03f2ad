#!/usr/bin/env bash
# Derives completion cases from the help of a built lu14, so that a command,
# an option, a fault or an option name that lu14 gains (or loses) and the
# completion scripts do not know fails their tests.
# usage: HelpCases.sh LU14
# Writes one case a line, its words shell-quoted: the command line typed so
# far, then every word completion must offer there, no more and no fewer
# ("@files": the files of the folder completion runs in).
set -euo pipefail
lu14=$1
help() { LC_ALL=C.UTF-8 "$lu14" "$@" --help; }
section() { sed -n "/^$1/,/^\$/p"; }
# "  -q, --quiet   ..." and "  --device ID   ...": the options an item names.
item_options() { grep -oE '^  (-[A-Za-z], )?--[a-z][a-z-]*' | grep -oE -- '--?[A-Za-z][a-z-]*' || true; }
# "  --device ID   ..." gives "--device ID": the options that take a value.
item_values() { grep -oE '^  (-[A-Za-z], )?--[a-z][a-z-]* [A-Z]+' | sed -E 's/^  (-[A-Za-z], )?//' || true; }
case_line() { printf '%q ' "$@"; echo; }

main=$(help)
commands=$(section 'Commands:' <<<"$main" | grep -oE '^  [a-z]+' | tr -d ' ')
# "lu14 help COMMAND" is a command too, one the list does not show.
grep -q 'lu14 help COMMAND' <<<"$main" && commands+=$'\nhelp'
globals=$(section 'Options' <<<"$main" | item_options)
values=$(section 'Options' <<<"$main" | item_values)
faults=$(section 'Simulated faults' <<<"$main" | grep -oE '^  [a-z][a-z-]*' | tr -d ' ')
[[ -n $commands && -n $globals && -n $values && -n $faults ]] || { echo "lu14 --help is not as expected" >&2; exit 1; }

case_line 'lu14 ' $commands
case_line 'lu14 help ' $(grep -vx help <<<"$commands")
case_line 'lu14 -' $globals
case_line 'lu14 --simulate=' $faults
for fault in $faults; do case_line "lu14 --simulate $fault " $commands; done

for command in $(grep -vx help <<<"$commands"); do
  own=$(help "$command")
  # The usage lines ("usage: lu14 update [-y|--yes] ...", and their
  # continuation) and the option items.
  usage=$(sed -n '1p; 2,${/^ *\[/p; /^ *\[/!q}' <<<"$own")
  options=$( (grep -oE -- '--?[A-Za-z][a-z-]*' <<<"$usage"; item_options <<<"$own") | sort -u)
  case_line "lu14 $command -" $globals $options
  values+=$'\n'$(item_values <<<"$own")
  if [[ $command == option ]]; then
    names=$(sed -n '/^usage/!p' <<<"$own" | grep -oE '^  [a-z][a-z-]*' | tr -d ' ')
    case_line 'lu14 option ' $names
    for name in $names; do
      case_line "lu14 option $name " $(grep -oE '\b[a-z]+\|[a-z]+\b' <<<"$usage" | tr '|' ' ')
    done
  fi
done

# An option's value: a file where lu14 reads or writes one, nothing that
# completion can know otherwise; and the value is no command.
while read -r option value; do
  [[ -n $option ]] || continue
  if [[ $value == FILE ]]; then case_line "lu14 $option " @files; else case_line "lu14 $option "; fi
  case_line "lu14 $option x " $commands
done < <(sort -u <<<"$values")
