# SPDX-License-Identifier: GPL-2.0-or-later
# bash completion for qdefrag, the command-line tool of Quillo Defrag:
# commands, options, the values of --sort and --color, drive letters of the
# drive table, demo targets, and image files and block devices.

# The drive letters of [drives] in drives.ini of the configuration folder,
# as "C:".
_qdefrag_letters() {
    local folder
    if [[ -n ${QUILLODEFRAG_HOME-} ]]; then
        folder=$QUILLODEFRAG_HOME
    elif [[ ${XDG_CONFIG_HOME-} == /* ]]; then
        folder=$XDG_CONFIG_HOME/quillodefrag
    else
        folder=${HOME-}/.config/quillodefrag
    fi
    [[ -r $folder/drives.ini ]] || return 0
    local line section=
    while IFS= read -r line || [[ -n $line ]]; do
        line=${line%$'\r'}
        if [[ $line =~ ^[[:space:]]*\[([^]]*)\] ]]; then
            section=${BASH_REMATCH[1],,}
        elif [[ $section == drives && $line =~ ^[[:space:]]*([A-Za-z])[[:space:]]*= ]]; then
            printf '%s:\n' "${BASH_REMATCH[1]^^}"
        fi
    done <"$folder/drives.ini"
}

_qdefrag() {
    local cur prev words cword
    if declare -F _get_comp_words_by_ref >/dev/null; then
        # bash-completion: keep "C:" and "--sort=name" whole.
        _get_comp_words_by_ref -n := cur prev words cword
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD - 1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi
    COMPREPLY=()

    # Plain bash splits "--sort=na" into "--sort", "=", "na": join them.
    local value_of=
    if [[ $cur == --*=* ]]; then
        value_of=${cur%%=*}
        cur=${cur#*=}
    elif [[ $cur == = ]]; then
        value_of=$prev
        cur=
    elif [[ $prev == = ]] && ((cword >= 2)); then
        value_of=${words[cword - 2]}
    fi

    local commands="list analyze defrag window"
    local volume_options="--optimize --exclude= --size-limit= --json --map --sort= --color --quiet --unmount --help"
    local list_options="--json --quiet --color --help"
    local window_options="--show --run-schedule --stop-and-exit --help"
    local sort_keys="name fragments clusters result"

    # Values of the options that take one.
    case $value_of in
        --sort) mapfile -t COMPREPLY < <(compgen -W "$sort_keys" -- "$cur") ;;
        --color | --colour) mapfile -t COMPREPLY < <(compgen -W "auto always never" -- "$cur") ;;
    esac
    [[ -n $value_of ]] && return 0
    case $prev in
        --sort)
            mapfile -t COMPREPLY < <(compgen -W "$sort_keys" -- "$cur")
            return 0
            ;;
        --exclude | -x | --size-limit | -s) return 0 ;;
    esac

    # The command: the first word that is neither an option nor an option's
    # value.
    local command='' i word
    for ((i = 1; i < cword; i++)); do
        word=${words[i]}
        case $word in
            --) break ;;
            =) ((i++)) ;;
            --exclude | --size-limit | --sort | -x | -s)
                [[ ${words[i + 1]-} == = ]] || ((i++))
                ;;
            -*) ;;
            *)
                command=$word
                break
                ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            mapfile -t COMPREPLY < <(compgen -W "--help --version" -- "$cur")
        else
            mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
        fi
        return 0
    fi

    case $command in
        list) mapfile -t COMPREPLY < <(compgen -W "$list_options" -- "$cur") ;;
        window) mapfile -t COMPREPLY < <(compgen -W "$window_options" -- "$cur") ;;
        analyze | analyse | defrag)
            if [[ $cur == -* ]]; then
                mapfile -t COMPREPLY < <(compgen -W "$volume_options" -- "$cur")
            else
                # Targets: drive letters, the demo volumes, image files and
                # block devices ("image#N" is typed by hand).
                mapfile -t COMPREPLY < <(compgen -W "$(_qdefrag_letters) demo: demo:fat32" -- "$cur")
                local path
                while IFS= read -r path; do
                    COMPREPLY+=("$path")
                done < <(compgen -f -- "$cur")
                compopt -o filenames 2>/dev/null
            fi
            ;;
    esac
    # An option that ends in "=" wants its value next, without a space.
    if [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]]; then
        compopt -o nospace 2>/dev/null
    fi

    # With bash-completion, words were kept whole across ":"; readline
    # still replaces only the text after the last ":".
    if declare -F __ltrim_colon_completions >/dev/null; then
        __ltrim_colon_completions "$cur"
    fi
    return 0
}

complete -F _qdefrag qdefrag
