# Bash completion of zel (installed as share/bash-completion/completions/zel).
_zel() {
    local cur prev words cword
    COMPREPLY=()
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD
    }
    local commands
    commands=$(zel help --commands 2>/dev/null) || commands="walk diff show lint get set unset edit help"
    if [ "$cword" -eq 1 ]; then
        COMPREPLY=($(compgen -W "$commands --version --help" -- "$cur"))
        return
    fi
    case $prev in
        --libs|-o|--verilog) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --ignore) COMPREPLY=($(compgen -W "never-applied unknown-name open-binding unbound" -- "$cur")); return ;;
        --depth) return ;;
    esac
    local command=${words[1]}
    # The words that are not options: CONFIG first, then the KEY of get/set/unset.
    local n=0 i libs=()
    for ((i = 2; i < cword; ++i)); do
        if [[ ${words[i-1]} == --libs ]]; then libs=(--libs "${words[i]}")
        elif [[ ${words[i]} != -* && ! ${words[i-1]} =~ ^(--depth|--ignore|--port|-o|--lib|--view|--top|--config|--leaf-lib|--leaf-view|--cell|--verilog|-I|-D)$ ]]; then
            n=$((n + 1))
        fi
    done
    local options
    case $command in
        walk) options="brief full json jsonl summary dot --depth --progress --no-progress --libs --help" ;;
        diff) options="--bindings --depth --libs --help" ;;
        show) options="--json --libs --help" ;;
        lint) options="--json --ignore --progress --no-progress --libs --help" ;;
        get) options="--json --libs --help" ;;
        set) options="--dry-run --strict --libs --help" ;;
        unset) options="--dry-run --libs --help" ;;
        edit) options="--libs --port --help" ;;
        import) options="--lib --view --top --config --leaf-lib --leaf-view --cell --verilog -I -D --libs --help" ;;
        export) options="-o --stub-missing --libs --help" ;;
        help) [ "$cword" -eq 2 ] && COMPREPLY=($(compgen -W "$commands" -- "$cur")); return ;;
        *) return ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    # Configurations, as the library definitions lead to them.
    local configs=""
    if [[ $command == diff && $n -lt 2 || $command == export && $n -eq 1 || $command != diff && $command != export && $n -eq 0 ]]; then
        configs=$(zel help --configs "${libs[@]}" 2>/dev/null)
    fi
    case $command in
        walk) COMPREPLY=($(compgen -W "brief full json jsonl summary dot $configs" -- "$cur")) ;;
        # zel import FORM FILE...; zel export FORM CONFIG
        import) if [ "$n" -eq 0 ]; then COMPREPLY=($(compgen -W "verilog json" -- "$cur")); else COMPREPLY=($(compgen -f -- "$cur")); fi ;;
        export) if [ "$n" -eq 0 ]; then COMPREPLY=($(compgen -W "verilog filelist config" -- "$cur")); else COMPREPLY=($(compgen -W "$configs" -- "$cur")); fi ;;
        get|set|unset)
            if [ "$n" -eq 1 ]; then
                COMPREPLY=($(compgen -W "top default-views default-libs default-stops constant note library cell inst occurrence" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "$configs" -- "$cur"))
            fi ;;
        *) COMPREPLY=($(compgen -W "$configs" -- "$cur")) ;;
    esac
}
complete -F _zel zel
