#!/bin/sh
# The translation sources (translations/*.ts) and the texts of the code.
#   translations.sh LUPDATE SOURCE_ROOT           brings every .ts up to date with the code:
#                                                  new texts come in unfinished, texts no
#                                                  longer in the code are dropped
#   translations.sh LUPDATE SOURCE_ROOT --check   changes nothing; exit 1, with the
#                                                  difference, when an update would change a
#                                                  .ts (a text of the code missing from it)
# The window's folders and the core's; the command-line program speaks English only.
set -eu
lupdate=$1
root=$2
mode=${3:-update}
cd "$root"
refresh() {
    "$lupdate" -silent -locations none -no-obsolete -I . -source-language ru_RU \
        -target-language en_US app chart channelchart files acquisition signal serial -ts "$1"
}
if [ "$mode" != "--check" ]; then
    for ts in translations/*.ts; do
        refresh "$ts"
    done
    exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for ts in translations/*.ts; do
    copy="$work/$(basename "$ts")"
    cp "$ts" "$copy"
    refresh "$copy"
    if ! cmp -s "$ts" "$copy"; then
        echo "$ts is not up to date with the code; run 'make translations' and translate:" >&2
        diff -u "$ts" "$copy" >&2 || true
        status=1
    fi
done
exit "$status"
