#!/bin/bash
# Makes the compressed manual page of a program from its --help, with help2man:
#   make-manpage.sh OUT.1.gz VERSION "WHAT IT IS" PROGRAM
# When the help lists commands (ferrun-cli: measure, plot...), each command's own
# `PROGRAM COMMAND --help` becomes a subsection of a COMMANDS section. The page's name is the
# program's file name.
#
# The programs print "usage:", "options:", "exit status:" in lower case, a second usage line
# indented under the first, and long usage lines wrapped with indented continuations;
# help2man knows headings by their capital and alternative usages by "or:", so the help text
# is put into that form on its way to help2man. The help is read in a UTF-8 locale: some
# options are named in Russian ("500 байт").
set -euo pipefail

if [[ $# -ne 4 ]]; then
    echo 'usage: make-manpage.sh OUT.1.gz VERSION "WHAT IT IS" PROGRAM' >&2
    exit 2
fi
out=$1
version=$2
what=$3
program=$(readlink -f "$4")
name=$(basename "$program")

work=$(mktemp -d "${TMPDIR:-/tmp}/ferrun-manpage.XXXXXX")
trap 'rm -rf "$work"' EXIT

# A stand-in named like the program, for help2man to run with --help: it prints the help of
# the program (or of one of its commands, from FERRUN_MAN_COMMAND) in help2man's form.
mkdir "$work/bin"
cat >"$work/bin/$name" <<'EOF'
#!/bin/bash
set -euo pipefail
"$FERRUN_MAN_PROGRAM" ${FERRUN_MAN_COMMAND:+"$FERRUN_MAN_COMMAND"} "$@" | awk -v name="$FERRUN_MAN_NAME" '
    # The usage block: the first line and the indented lines under it.
    NR == 1 && /^usage: / { usage = "Usage: " substr($0, 8); inusage = 1; next }
    inusage && /^[ \t]+[^ \t]/ {
        line = $0
        sub(/^[ \t]+/, "", line)
        if (index(line, name " ") == 1 || line == name) {
            print usage
            usage = "  or: " line
        } else {
            usage = usage " " line
        }
        next
    }
    inusage { print usage; inusage = 0 }
    # Headings: a line of lower-case words ending in a colon.
    /^[a-z][a-z ]*:$/ { print toupper(substr($0, 1, 1)) substr($0, 2); next }
    { print }
    END { if (inusage) print usage }'
EOF
chmod +x "$work/bin/$name"

export FERRUN_MAN_PROGRAM=$program FERRUN_MAN_NAME=$name
# The toolkit must not look for a display for --help.
export QT_QPA_PLATFORM=offscreen

help2man_args=(--no-info --no-discard-stderr --locale=C.UTF-8 --section=1
               --version-string="$version")

# The commands: the first word of each indented line under "commands:", up to a blank line.
"$program" --help >"$work/help.txt"
mapfile -t commands < <(awk '/^commands:$/ { on = 1; next }
                             on && /^[ \t]*$/ { exit }
                             on && /^[ \t]+[a-z]/ { print $1 }' "$work/help.txt")

if [[ ${#commands[@]} -gt 0 ]]; then
    # Each command's page, from its synopsis on, turned into a subsection: help2man's
    # sections inside it become bold headings.
    {
        echo '[COMMANDS]'
        for command in "${commands[@]}"; do
            FERRUN_MAN_COMMAND=$command help2man "${help2man_args[@]}" \
                --name="$name $command" "$work/bin/$name" >"$work/$command.1"
            awk -v heading="$name $command" '
                /^\.SH SYNOPSIS/ { printf ".SS \"%s\"\n", heading; body = 1; next }
                !body { next }
                /^\.SH DESCRIPTION/ { print ".PP"; next }
                /^\.SH / {
                    title = substr($0, 5)
                    gsub(/"/, "", title)
                    title = substr(title, 1, 1) tolower(substr(title, 2))
                    printf ".PP\n.B \"%s:\"\n", title
                    next
                }
                /^\.SS / {
                    title = substr($0, 5)
                    gsub(/"/, "", title)
                    printf ".PP\n.B \"%s\"\n", title
                    next
                }
                { print }' "$work/$command.1"
        done
    } >"$work/commands.h2m"
    help2man_args+=(--include="$work/commands.h2m")
fi

# The other programs of the package, and the README.
{
    echo '[SEE ALSO]'
    list=
    for other in ferrun ferrun-cli ferrun-board; do
        [[ $other == "$name" ]] || list+="\\fB$other\\fR(1), "
    done
    echo "${list%, }"
    echo '.PP'
    echo 'The README and the help pages of the window: \fI/usr/share/doc/ferrun\fR (with the'
    echo 'package; \fIshare/doc/ferrun\fR under the prefix of another installation).'
} >"$work/see-also.h2m"
help2man_args+=(--include="$work/see-also.h2m")

help2man "${help2man_args[@]}" --name="$what" "$work/bin/$name" >"$work/page.1"
# The page must format without complaint (groff's warnings about the generated roff).
if command -v groff >/dev/null; then
    groff -man -Tutf8 -K utf8 -ww -z "$work/page.1" 2>"$work/groff.log"
    if [[ -s $work/groff.log ]]; then
        cat "$work/groff.log" >&2
        echo "make-manpage.sh: groff complains about the page of $name" >&2
        exit 1
    fi
fi
gzip -9n <"$work/page.1" >"$out.tmp"
mv -f "$out.tmp" "$out"
