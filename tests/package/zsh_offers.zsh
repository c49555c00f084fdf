# Prints what zsh's completion offers for a command line, one a line: an
# interactive zsh on a pseudo-terminal completes it with the real completion
# system, whose every match is printed as it is added.
# zsh -f offers.zsh FOLDER-OF-_foliant WORDS...
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PS1='%% '; fpath=(${(q)1} \$fpath); autoload -Uz compinit && compinit -u -D"
shift
zpty -w z 'compadd() { builtin compadd -O __hits "$@"; print -rl -- "<hit>"$^__hits >/dev/tty; builtin compadd "$@" }'
zpty -w z 'print -r -- "<re""ady>"'
zpty -r z line '*<ready>*'
zpty -n -w z "$*"$'\t'
zpty -w z $'\C-e\C-u print -r -- "<do""ne>"'
zpty -r z out '*<done>*'
for line in ${(f)out}; do [[ $line == *'<hit>'* ]] && print -r -- ${${line#*<hit>}%$'\r'}; done | sort -u
zpty -d z
