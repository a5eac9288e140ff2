#!/usr/bin/env bash
# Runs the bash completion function of orvo-updater-cli for a few command lines, against the
# built program (whose catalogue gives the board names), and compares the offered words. Also
# reads the zsh completion with zsh -n when zsh is there. Prints every input and its output.
#
#   test-completion.sh PATH/TO/orvo-updater-cli
set -uo pipefail
program=$1
here=$(cd "$(dirname "$0")" && pwd)
# The program asks nothing of the profile, but keep anything it might write out of it.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config TMPDIR=$home QT_QPA_PLATFORM=offscreen

# bash-completion's helpers are not needed, but load them when present, as a user's shell does.
[ -f /usr/share/bash-completion/bash_completion ] && . /usr/share/bash-completion/bash_completion
. "$here/orvo-updater-cli.bash"

failures=0
# expect "EXPECTED REPLY" WORD...: the words typed after the program's name, the last one the word
# being completed ("" right after a blank), as bash splits the line. The reply is the sorted
# COMPREPLY, joined by "|".
expect() {
    local wanted=$1
    shift
    COMP_WORDS=("$program" "$@")
    COMP_CWORD=$#
    COMP_LINE="orvo-updater-cli $*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _orvo_updater_cli orvo-updater-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd'|')
    if [ "$got" = "$wanted" ]; then
        printf 'ok    [%s] -> %s\n' "$COMP_LINE" "$got"
    else
        printf 'FAIL  [%s] -> %s\n      wanted %s\n' "$COMP_LINE" "$got" "$wanted"
        failures=$((failures + 1))
    fi
}

expect "auto-update|check|history|identify|panels|release|rename|reset|scan|update|versions" ""
expect "release|rename|reset" re
expect "check|install|rollback" release ""
expect "auto-update" --port 51001 au
expect "--all|--debug|--firmware|--force|--help|--history|--ip|--json|--log|--no|--parallel|--port|--progress|--version|--yes" \
    auto-update 127.0.0.2 --
expect "--last|--log" history --l
expect "console|kvr10|kvr30|qrt|tx512" panels ""
expect "kvr10|kvr30" panels k
expect "Channel\\ Master\\ FPGA\\ 1-8|Channel\\ Master\\ FPGA\\ 17-24|Channel\\ Master\\ FPGA\\ 9-16" \
    update 127.0.0.2 "Channel\\ Master\\ F"
expect "Monitor\\ AudioBoard" history --board "'Monitor A"
all_boards=$(_orvo_updater_cli_boards "$program" | while IFS= read -r b; do printf '%q\n' "$b"; done | sort |
    paste -sd'|')
expect "$all_boards" check 127.0.0.2 ""
expect "" versions 127.0.0.2 ""
echo "(check 127.0.0.2 offers $(tr '|' '\n' <<<"$all_boards" | grep -c .) board names)"

# Every device type lists at least one board, and the check above offered more than a handful.
for type in console qrt kvr10 tx512 kvr30; do
    [ -n "$(_orvo_updater_cli_boards "$program" "$type")" ] || { echo "FAIL  no board names for $type"; failures=$((failures + 1)); }
done

if command -v zsh >/dev/null; then
    zsh -n "$here/_orvo-updater-cli" && echo "ok    zsh -n _orvo-updater-cli" || failures=$((failures + 1))
fi
[ "$failures" -eq 0 ] || { echo "$failures completion checks failed"; exit 1; }
echo "all completion checks passed"
