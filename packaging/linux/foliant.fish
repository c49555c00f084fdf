# fish completion for foliant: the word "all" first, then the folders and
# the names that contain .txt or .TXT, never an .hdb file (an output).
function __foliant_texts
    set -l token (commandline -ct | string unescape)
    # A leading ~ is typed, not expanded: glob in the home folder it names,
    # and offer the names as typed.
    set -l home
    if string match -q -r '^~(/|$)' -- $token
        set home $HOME
        set token (string replace -r '^~' -- $HOME $token)
    end
    for name in $token*
        set -l shown $name
        if test -n "$home"
            set shown '~'(string sub -s (math (string length -- $home) + 1) -- $name)
        end
        if test -d $name
            echo $shown/
        else if string match -q -r '\.(txt|TXT)' -- $name; and not string match -q -r -i '\.hdb$' -- $name
            echo $shown
        end
    end
end
complete -c foliant -f
complete -c foliant -n 'test (count (commandline -opc)) -eq 1' -a all -d 'every text of the current folder'
complete -c foliant -a '(__foliant_texts)'
