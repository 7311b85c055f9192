#!/bin/sh
# Bash completion for one program, from its own --help as its manual page
# is, so an option shown there is an option completed: every "--name" the
# help shows, and the protocols where it names them. Other words (files,
# devices) complete as bash completes them by default.
# Usage: completion.sh PATH/TO/PROGRAM NAME
set -eu
program=$1
name=$2
help=$("$program" --help)
options=$(printf '%s\n' "$help" | grep -oE '(^|[][ (|,])--[a-z0-9][a-z0-9-]*' | tr -d ' |[](,' |
          sort -u | tr '\n' ' ')
protocols=$(printf '%s\n' "$help" | grep -oE '(^|[ |])(korvel|iso1745|modbus)([ |]|$)' | tr -d ' |' |
            sort -u | tr '\n' ' ')
function=_$(echo "$name" | tr -c 'a-z0-9\n' '_')
cat <<END
# bash completion for $name, from its --help
$function() {
    local cur=\${COMP_WORDS[COMP_CWORD]}
    case \$cur in
        -*) COMPREPLY=(\$(compgen -W "$options" -- "\$cur")) ;;
        *) COMPREPLY=(\$(compgen -W "$protocols" -- "\$cur")) ;;
    esac
}
complete -o default -o bashdefault -F $function $name
END
