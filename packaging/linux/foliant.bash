# bash completion for foliant: the word "all" first, then the folders and
# the names that contain .txt or .TXT, never an .hdb file (an output).
_foliant()
{
    local cur=${COMP_WORDS[COMP_CWORD]} name
    COMPREPLY=()
    if ((COMP_CWORD == 1)) && [[ all == "$cur"* ]]; then
        COMPREPLY+=(all)
    fi
    while IFS= read -r name; do
        if [[ -d $name ]]; then
            COMPREPLY+=("$name")
        elif [[ ($name == *.txt* || $name == *.TXT*) && ${name,,} != *.hdb ]]; then
            COMPREPLY+=("$name")
        fi
    done < <(compgen -f -- "$cur")
}
complete -o filenames -F _foliant foliant
