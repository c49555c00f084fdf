# bash completion for foliant: the word "all" first, then the folders and
# the names that contain .txt or .TXT, never an .hdb file (an output).
_foliant()
{
    local cur=${COMP_WORDS[COMP_CWORD]} name path head home
    COMPREPLY=()
    if ((COMP_CWORD == 1)) && [[ all == "$cur"* ]]; then
        COMPREPLY+=(all)
    fi
    while IFS= read -r name; do
        # compgen keeps a leading ~ or ~user as typed; the tests need the
        # folder it stands for. Only a plain user name is expanded.
        path=$name
        head=${name%%/*}
        if [[ $head =~ ^~[A-Za-z0-9._-]*$ ]]; then
            eval "home=$head"
            path=$home${name:${#head}}
        fi
        if [[ -d $path ]]; then
            COMPREPLY+=("$name")
        elif [[ ($name == *.txt* || $name == *.TXT*) && ${name,,} != *.hdb ]]; then
            COMPREPLY+=("$name")
        fi
    done < <(compgen -f -- "$cur")
}
complete -o filenames -F _foliant foliant
