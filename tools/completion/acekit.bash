# bash completion for acekit: commands, their options, archives, paths, and
# the names of the entries of the archive given.

_acekit_entries() {
    # The entry names of an archive, from its JSON listing (one entry a line).
    acekit l --json -- "$1" 2>/dev/null |
        sed -n 's/^{"name":"\(\([^"\\]\|\\.\)*\)".*/\1/p' |
        sed 's/\\"/"/g; s/\\\\/\\/g'
}

_acekit() {
    local cur prev words cword
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    words=("${COMP_WORDS[@]}")
    cword=$COMP_CWORD

    local commands="a l t x e d c cf md i help"
    local common="-q --quiet -h --help"

    # Options may come before the command: it is the first word that is
    # neither an option nor an option's value.
    local i command="" archive="" operands=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -o|--output|-C|-d|--dictionary|-m|--level|--set|-T|--files-from|--exclude|--threads) ((i++)) ;;
            -*) ;;
            *)
                if [[ -z $command ]]; then
                    command=${words[i]}
                else
                    ((operands++))
                    [[ -z $archive ]] && archive=${words[i]}
                fi
                ;;
        esac
    done

    case $prev in
        -o|--output|-C)
            COMPREPLY=($(compgen -d -- "$cur"))
            return ;;
        -d|--dictionary)
            COMPREPLY=($(compgen -W "64 128 256 512 1024" -- "$cur"))
            return ;;
        -m|--level)
            COMPREPLY=($(compgen -W "1 2 3 4" -- "$cur"))
            return ;;
        --set|--files-from)
            COMPREPLY=($(compgen -f -- "$cur") -)
            return ;;
        -T)
            # A count of threads, or (for a) a list of paths.
            if [[ $command == a ]]; then
                COMPREPLY=($(compgen -f -- "$cur") -)
            else
                COMPREPLY=($(compgen -W "0 1 2 4 8" -- "$cur"))
            fi
            return ;;
        --threads)
            COMPREPLY=($(compgen -W "0 1 2 4 8" -- "$cur"))
            return ;;
        --exclude)
            return ;;
    esac

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$common -V --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    local options
    case $command in
        a) options="-s --solid -d --dictionary -m --level -C --names-only --strict -v --verbose
                    --exclude -T --files-from --null --threads" ;;
        l) options="--json -v --verbose --exclude" ;;
        t) options="-v --verbose -T --threads" ;;
        d) options="-v --verbose --exclude -d --dictionary -m --level -T --threads" ;;
        x|e) options="-o --output -y --yes -n --no -v --verbose --exclude -p --stdout -T --threads" ;;
        c|cf) options="--set --remove" ;;
        i) options="--json" ;;
        help) COMPREPLY=($(compgen -W "$commands" -- "$cur")); return ;;
        *) options="" ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$common $options" -- "$cur"))
        return
    fi

    if ((operands == 0)); then
        # The archive: existing ones, or any name for a new one.
        COMPREPLY=($(compgen -f -X '!*.[aA][cC][eE]' -- "$cur") $(compgen -d -- "$cur"))
        return
    fi
    case $command in
        a) COMPREPLY=($(compgen -f -- "$cur")) ;;
        l|x|e|d|cf)
            local IFS=$'\n'
            COMPREPLY=($(compgen -W "$(_acekit_entries "$archive")" -- "$cur"))
            ;;
    esac
}

complete -o filenames -o bashdefault -F _acekit acekit
