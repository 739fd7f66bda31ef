# Bash completion of zel (installed as share/bash-completion/completions/zel).
_zel() {
    local cur prev words cword
    COMPREPLY=()
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD
    }
    local commands="walk diff show lint get set unset import export edit help"
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
    case $command in
        walk) COMPREPLY=($(compgen -W "brief full json jsonl summary dot --depth --progress --no-progress --libs --help" -- "$cur")) ;;
        diff) COMPREPLY=($(compgen -W "--bindings --depth --libs --help" -- "$cur")) ;;
        show) COMPREPLY=($(compgen -W "--json --libs --help" -- "$cur")) ;;
        import)
            if [ "$cword" -eq 2 ]; then COMPREPLY=($(compgen -W "verilog json" -- "$cur"))
            elif [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--lib --view --top --config --leaf-lib --leaf-view --cell --verilog -I -D --libs --help" -- "$cur"))
            else COMPREPLY=($(compgen -f -- "$cur")); fi ;;
        export)
            if [ "$cword" -eq 2 ]; then COMPREPLY=($(compgen -W "verilog filelist config" -- "$cur"))
            else COMPREPLY=($(compgen -W "-o --stub-missing --libs --help" -- "$cur")); fi ;;
        lint) COMPREPLY=($(compgen -W "--json --ignore --progress --no-progress --libs --help" -- "$cur")) ;;
        get|set|unset)
            # zel get CONFIG KEY...: the key's first word after the configuration.
            local n=0 i
            for ((i = 2; i < cword; ++i)); do [[ ${words[i]} == -* || ${words[i-1]} == --libs ]] || n=$((n + 1)); done
            if [ "$n" -eq 1 ]; then
                COMPREPLY=($(compgen -W "top default-views default-libs default-stops constant note library cell inst occurrence" -- "$cur"))
            elif [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--libs --dry-run --strict --json --help" -- "$cur"))
            fi ;;
        help) [ "$cword" -eq 2 ] && COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
    esac
}
complete -F _zel zel
