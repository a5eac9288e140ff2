# bash completion for orvo-updater-cli: commands, options, device types, and board names read
# from the program's own catalogue (`orvo-updater-cli panels TYPE`), so they always match the
# installed release.

# The board names of one device type, or of every type, one per line. A listing row is
# "No  Name  Panel Chan Type Addr Version File": the name is what lies between the number and
# the last six columns (names hold blanks).
_orvo_updater_cli_boards()
{
    local program=$1 type types=${2:-"console qrt kvr10 tx512 kvr30"}
    for type in $types; do
        "$program" panels "$type" 2>/dev/null | awk 'NF >= 8 && $1 ~ /^[0-9]+$/ {
            name = $2; for (i = 3; i <= NF - 6; ++i) name = name " " $i; print name }'
    done | sort -u
}

# COMPREPLY from a newline-separated list, the words that start with the current word, with
# blanks and quotes escaped so that a board name stays one argument.
_orvo_updater_cli_reply()
{
    local cur=$1 list=$2 word
    # What was typed, unquoted: "Channel\ M" or "'Channel M" stand for Channel M.
    cur=${cur//\\/}
    cur=${cur#[\"\']}
    COMPREPLY=()
    while IFS= read -r word; do
        [ -n "$word" ] && [[ $word == "$cur"* ]] && COMPREPLY+=("$(printf '%q' "$word")")
    done <<<"$list"
}

_orvo_updater_cli()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=""
    [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=${COMP_WORDS[0]}
    local valued="--port --firmware --log --json --history --speed-up --ip --device --board --since"

    # The command so far and the positional words after it; option values are skipped.
    local command="" i word positional=0
    for ((i = 1; i < COMP_CWORD; ++i)); do
        word=${COMP_WORDS[i]}
        if [[ $word == -* ]]; then
            if [[ " $valued " == *" $word "* ]] && ! [[ $command == history && $word == --json ]]; then
                ((++i))
            fi
        elif [ -z "$command" ]; then
            command=$word
        elif [ "$command" = release ]; then
            command="release $word"
        else
            ((++positional))
        fi
    done

    case $prev in
    --firmware)
        COMPREPLY=($(compgen -d -- "$cur"))
        return ;;
    --log | --history)
        COMPREPLY=($(compgen -f -- "$cur"))
        return ;;
    --json)
        if [ "$command" != history ]; then
            COMPREPLY=($(compgen -f -- "$cur"))
            return
        fi ;;
    --board)
        _orvo_updater_cli_reply "$cur" "$(_orvo_updater_cli_boards "$program")"
        return ;;
    --port | --ip | --device | --since | --speed-up | --parallel)
        return ;;
    esac

    if [[ $cur == -* ]]; then
        local options="--port --firmware --log --json --history --debug --progress --help --version"
        case $command in
        scan) options+=" --ip" ;;
        versions) options+=" --all --ip --parallel" ;;
        auto-update) options+=" --yes --no --force --all --ip --parallel" ;;
        reset) options+=" --check" ;;
        "release install") options+=" --force" ;;
        history) options+=" --device --board --since --last --csv" ;;
        esac
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi

    case $command in
    "")
        COMPREPLY=($(compgen -W "scan versions auto-update check update reset rename identify panels release history" \
            -- "$cur")) ;;
    release)
        COMPREPLY=($(compgen -W "check install rollback" -- "$cur")) ;;
    panels)
        [ "$positional" -eq 0 ] && COMPREPLY=($(compgen -W "console qrt kvr10 tx512 kvr30" -- "$cur")) ;;
    check | update | reset)
        # DEVICE is an address, whose type is known only to the device: every type's boards.
        [ "$positional" -eq 1 ] && _orvo_updater_cli_reply "$cur" "$(_orvo_updater_cli_boards "$program")" ;;
    "release check")
        [ "$positional" -eq 0 ] && COMPREPLY=($(compgen -d -- "$cur")) ;;
    "release install")
        [ "$positional" -eq 0 ] && COMPREPLY=($(compgen -f -- "$cur")) ;;
    esac
}
complete -F _orvo_updater_cli orvo-updater-cli
