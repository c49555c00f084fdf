# fish completion for foliant: the word "all" first, then the folders and
# the names that contain .txt or .TXT, never an .hdb file (an output).
function __foliant_texts
    set -l token (commandline -ct | string unescape)
    for name in $token*
        if test -d $name
            echo $name/
        else if string match -q -r '\.(txt|TXT)' -- $name; and not string match -q -r -i '\.hdb$' -- $name
            echo $name
        end
    end
end
complete -c foliant -f
complete -c foliant -n 'test (count (commandline -opc)) -eq 1' -a all -d 'every text of the current folder'
complete -c foliant -a '(__foliant_texts)'
