#!/usr/bin/env bash
# ctest packaging.bash-completion: movantrix-cli's completion offers the right words.
# Usage: check-completion.sh COMPLETION_FILE
set -uo pipefail
framework=/usr/share/bash-completion/bash_completion
if [ ! -f "$framework" ]; then
    echo "SKIPPED: bash-completion is not installed (scripts/setup.sh installs it)"
    exit 77
fi
# shellcheck disable=SC1090
source "$framework"
source "$1"
failures=0
expect() {
    local want=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _movantrix_cli
    if [ "${COMPREPLY[*]}" != "$want" ]; then
        echo "[$*]: got \"${COMPREPLY[*]}\", want \"$want\""
        failures=$((failures + 1))
    fi
}
expect "ports scan ping info read write set reset-defaults flash watch backup restore assign profile" movantrix-cli ""
expect "--port --sim-virtual-time --json --help --version" movantrix-cli --
expect "scan" movantrix-cli --port sim sc
expect "--full --fast --quick-look --help" movantrix-cli --port sim scan --
expect "goal-position" movantrix-cli set --id 1 --baud 1 goal
expect "on off" movantrix-cli --port 0 set --id 1 --baud 1 led ""
expect "overload,overload overload,overheating" movantrix-cli set --id 1 --baud 1 alarm-led overload,ov
expect "1 3 4 7 9 16 34 103 207" movantrix-cli info --baud ""
expect "--id --baud --help --word" movantrix-cli write --
expect "--all-versions --full --fast --help" movantrix-cli flash --
expect "--id --baud --help --rate --duration --csv --json" movantrix-cli watch --
expect "10 100" movantrix-cli watch --id 1 --baud 1 --rate 1
expect "--id --baud --help --dry-run --network --force" movantrix-cli restore a.json --
expect "--ids --baud --settings --network --codes --full --return-delay --help" movantrix-cli assign --
expect "--return-delay" movantrix-cli assign --ids 1-12 --baud 1 --ret
expect "0 1 5 10 250" movantrix-cli assign --return-delay ""
expect "save check apply adopt" movantrix-cli --port 0 profile ""
expect "-o --output --codes --full --help" movantrix-cli profile save -
expect "--dry-run --network --help" movantrix-cli profile apply arm.json --
expect "--json --help" movantrix-cli profile check arm.json --
[ "$failures" -eq 0 ] && echo "completion: all words as expected"
exit "$failures"
