#!/usr/bin/env bash
# The bash completion of ferrun-cli (packaging/ferrun-cli.bash-completion) against the program
# of the build: the commands, a command's options as its --help lists them, the values of a
# choice, and files by extension in a folder of the test's.
#
# Usage: completion_test.sh <ferrun-cli> <completion script>
set -uo pipefail

program=${1:?usage: completion_test.sh <ferrun-cli> <completion script>}
script=${2:?usage: completion_test.sh <ferrun-cli> <completion script>}
work=$(mktemp -d "${TMPDIR:-/tmp}/ferrun-completion-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0

# shellcheck source=/dev/null
source "$script"
complete -p ferrun-cli >/dev/null || { echo "FAIL: no completion registered for ferrun-cli" >&2; exit 1; }

# expect "WORDS..." "EXPECTED": completes the last word, EXPECTED the sorted replies joined by
# spaces.
expect() {
    local -a words
    read -ra words <<<"$1"
    [[ $1 == *' ' ]] && words+=("")
    COMP_WORDS=("$program" "${words[@]}")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _ferrun_cli
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' ')
    if [[ $got != "$2" ]]; then
        echo "FAIL: ferrun-cli $1| gave '$got', expected '$2'" >&2
        failures=$((failures + 1))
    fi
}

cd "$work" || exit 1
touch run.kdx OLD.KDX notes.txt out.csv chart.png chart.svg colours.ini
mkdir folder

expect "me" "measure"
expect "c" "catalog cycle"
expect "export " "OLD.KDX folder run.kdx"
expect "export run.kdx -o " "folder out.csv"
expect "plot run.kdx -o ch" "chart.png chart.svg"
expect "plot run.kdx --settings " "colours.ini folder"
expect "measure -o " "OLD.KDX folder run.kdx"
expect "catalog " "folder"
expect "measure --launch " "computer photodiode"
expect "export run.kdx --unit " "ms s us"
expect "export --o" "--output"
expect "plot --form" "--format"
expect "cycle --one" "--one-file"
expect "measure --freq " ""
# Every option of every command is offered.
for command in dividers ports measure info export stats catalog cycle plot recovered; do
    listed=$("$program" "$command" --help | awk '/^options:$/ { on = 1; next } on && /^[^ ]/ { on = 0 }
        on && /^  -/ { line = substr($0, 3); sub(/  .*/, "", line); n = split(line, names, ", ")
                      for (i = 1; i <= n; i++) { split(names[i], word, " "); print word[1] } }' \
             | sort | paste -sd ' ')
    [[ -n $listed ]] || { echo "FAIL: ferrun-cli $command --help lists no options" >&2; failures=$((failures + 1)); }
    expect "$command -" "$listed"
done

if [[ $failures -ne 0 ]]; then
    echo "$failures completion(s) wrong" >&2
    exit 1
fi
echo "completion test passed"
