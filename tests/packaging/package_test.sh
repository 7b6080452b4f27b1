#!/usr/bin/env bash
# The Debian package as a user gets it: built with cpack from the build folder (or taken from
# $FERRUN_PACKAGE), unpacked into a temporary root with dpkg-deb -x, its layout checked, and
# ferrun-cli and the window run from that root. Every shared library the programs link (ldd)
# or load while running (/proc/PID/maps, which also shows Qt's plugins and iconv's modules)
# must come from a package that installing ferrun brings along:
#   - a package named in its Depends (any alternative), or
#   - a package reachable from those through the Depends and Pre-Depends of the installed
#     packages (libc6 through libqt6core6, libfontconfig1 through libqt6gui6...), virtual
#     names resolved to the installed packages that provide them.
# Recommends and Suggests are not followed: apt may leave them out. A library that no package
# owns (a build tree, /usr/local, LD_LIBRARY_PATH) fails the test, so the programs are run
# without LD_LIBRARY_PATH, LD_PRELOAD and QT_PLUGIN_PATH.
#
# The desktop integration is checked with the tools a desktop uses: the recording type is
# compiled by update-mime-database into a temporary database and a recording resolved through
# it by gio, by name and by content; the desktop entry and the metainfo are validated; the
# thumbnailer's command line is run as a file manager runs it, on a recording just made; the
# manual pages are formatted by man. lintian, when installed, must report no error (its
# warnings are printed, not counted).
#
# Usage: package_test.sh <build folder>
set -uo pipefail

build=${1:?usage: package_test.sh <build folder>}
cpack=${CPACK_COMMAND:-cpack}
work=$(mktemp -d "${TMPDIR:-/tmp}/ferrun-package-test.XXXXXX")
failures=0
running_pid=

cleanup() {
    if [[ -n $running_pid ]] && kill -0 "$running_pid" 2>/dev/null; then
        kill -KILL "$running_pid" 2>/dev/null
        wait "$running_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for tool in dpkg-deb dpkg-query dpkg ldd desktop-file-validate update-mime-database gio \
            appstreamcli man; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (run make deps)" >&2; exit 1; }
done

# ---- The package
if [[ -n ${FERRUN_PACKAGE:-} ]]; then
    deb=$FERRUN_PACKAGE
else
    if ! (cd "$build" && "$cpack" -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1); then
        cat "$work/cpack.log" >&2
        echo "FAIL: cpack could not build the package" >&2
        exit 1
    fi
    debs=("$work"/cpack/*.deb)
    deb=${debs[0]}
fi
[[ -f $deb ]] || { echo "FAIL: no package at $deb" >&2; exit 1; }
echo "package: $(basename "$deb")"

for field in Package Version Architecture Maintainer Description Depends; do
    [[ -n $(dpkg-deb -f "$deb" "$field") ]] || fail "the control file has no $field"
done
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"

root=$work/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x failed" >&2; exit 1; }

# ---- Layout
programs=(ferrun ferrun-cli ferrun-board)
for p in "${programs[@]}"; do
    [[ -x $root/usr/bin/$p ]] || fail "usr/bin/$p is missing or not executable"
done
for f in "$root"/usr/bin/*; do
    name=$(basename "$f")
    [[ " ${programs[*]} " == *" $name "* ]] || fail "usr/bin/$name should not be installed"
done

desktop=$root/usr/share/applications/ferrun.desktop
if [[ -f $desktop ]]; then
    desktop-file-validate "$desktop" || fail "ferrun.desktop does not validate"
    exec_line=$(sed -n 's/^Exec=//p' "$desktop")
    [[ -x $root/usr/bin/${exec_line%% *} ]] || fail "Exec=$exec_line is not an installed program"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [[ -f $root/usr/share/icons/hicolor/scalable/apps/$icon.svg ]] \
        || fail "no scalable icon $icon.svg"
    [[ -f $root/usr/share/icons/hicolor/48x48/apps/$icon.png ]] \
        || fail "no 48x48 icon $icon.png (the theme's fallback size)"
else
    fail "usr/share/applications/ferrun.desktop is missing"
fi
# Each PNG is a PNG of the size its folder names (width and height from the IHDR chunk).
for png in "$root"/usr/share/icons/hicolor/*x*/apps/*.png; do
    [[ -f $png ]] || continue
    size=$(basename "$(dirname "$(dirname "$png")")")
    read -r signature < <(od -An -tx1 -N8 "$png" | tr -d ' \n'; echo)
    read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$png")
    [[ $signature == 89504e470d0a1a0a ]] || fail "$png is not a PNG"
    [[ "${w}x${h}" == "$size" ]] || fail "$png is ${w}x${h}, expected $size"
done
rules=$(ls "$root"/usr/lib/udev/rules.d/70-ferrun-board.rules \
        "$root"/lib/udev/rules.d/70-ferrun-board.rules 2>/dev/null | head -n1)
[[ -n $rules ]] || fail "the udev rule is not in usr/lib/udev/rules.d or lib/udev/rules.d"
[[ -f $root/usr/share/doc/ferrun/copyright ]] || fail "usr/share/doc/ferrun/copyright is missing"
[[ -f $root/usr/share/doc/ferrun/help/contents.html ]] || fail "the help pages are missing"

# ---- Desktop integration: the recording type, the menu entry, the metainfo
mime_xml=$root/usr/share/mime/packages/ferrun.xml
kdx_type=$(sed -n 's/^ *<mime-type type="\([^"]*\)".*/\1/p' "$mime_xml" 2>/dev/null | head -n1)
[[ -n $kdx_type ]] || fail "usr/share/mime/packages/ferrun.xml is missing or defines no type"
if [[ -f $desktop ]]; then
    grep -q "^MimeType=\(.*;\)\?$kdx_type;" "$desktop" \
        || fail "ferrun.desktop does not list $kdx_type in MimeType"
    grep -q '^Exec=[^ ]* .*%[fFuU]' "$desktop" || fail "ferrun.desktop's Exec takes no file (%f)"
fi
appstreamcli validate-tree --no-net "$root" >"$work/appstream.out" 2>&1 \
    || { cat "$work/appstream.out" >&2; fail "the metainfo does not validate"; }
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [[ -f ${metainfo[0]} ]]; then
    for p in $(sed -n 's/.*<binary>\(.*\)<\/binary>.*/\1/p' "${metainfo[0]}"); do
        [[ -x $root/usr/bin/$p ]] || fail "the metainfo provides $p, which is not installed"
    done
    grep -q "<mediatype>$kdx_type</mediatype>" "${metainfo[0]}" \
        || fail "the metainfo does not provide $kdx_type"
else
    fail "usr/share/metainfo holds no metainfo"
fi

# ---- The changelog of a native package, with an entry for this version
changelog=$root/usr/share/doc/ferrun/changelog.gz
if [[ -f $changelog ]]; then
    logged=$(gzip -dc "$changelog" | sed -n '1s/^ferrun (\([^)]*\)).*/\1/p')
    [[ $logged == "$(dpkg-deb -f "$deb" Version)" ]] \
        || fail "the changelog's latest entry is for '$logged', the package is $(dpkg-deb -f "$deb" Version)"
else
    fail "usr/share/doc/ferrun/changelog.gz is missing"
fi

# ---- Running the programs from the unpacked root
home=$work/home
mkdir -p "$home" "$work/run"
chmod 700 "$work/run"
run_env=(env -u LD_LIBRARY_PATH -u LD_PRELOAD -u QT_PLUGIN_PATH -u QT_QPA_PLATFORM_PLUGIN_PATH
         HOME="$home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$home/.config"
         QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8)
libraries=$work/libraries
: >"$libraries"

# Appends the shared objects mapped into process $1 to the list.
record_maps() {
    sed -n 's#^.* \(/[^ ]*\.so[.0-9]*\)$#\1#p' "/proc/$1/maps" 2>/dev/null >>"$libraries"
}

for p in "${programs[@]}"; do
    [[ -x $root/usr/bin/$p ]] || continue
    ldd_out=$(ldd "$root/usr/bin/$p") || fail "ldd $p failed"
    if grep -q 'not found' <<<"$ldd_out"; then
        fail "$p: libraries not found: $(grep 'not found' <<<"$ldd_out" | tr -s ' \t' ' ')"
    fi
    awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' <<<"$ldd_out" \
        >>"$libraries"
done

# One short measurement on the built-in simulator, the recording written to a file.
kdx=$work/run.kdx
"${run_env[@]}" "$root/usr/bin/ferrun-cli" measure --simulator --time 1000 -o "$kdx" \
    >"$work/cli.out" 2>&1 &
running_pid=$!
while kill -0 "$running_pid" 2>/dev/null; do
    record_maps "$running_pid"
    sleep 0.1
done
wait "$running_pid"
status=$?
running_pid=
if [[ $status -ne 0 ]]; then
    cat "$work/cli.out" >&2
    fail "ferrun-cli measure --simulator ended with $status"
elif [[ ! -s $kdx ]]; then
    fail "ferrun-cli measure --simulator wrote no recording"
fi

# The window on the offscreen platform, closed with SIGTERM after three seconds.
failures_before_window=$failures
"${run_env[@]}" "$root/usr/bin/ferrun" --simulator >"$work/window.out" 2>&1 &
running_pid=$!
for _ in $(seq 30); do
    kill -0 "$running_pid" 2>/dev/null || break
    record_maps "$running_pid"
    sleep 0.1
done
if kill -0 "$running_pid" 2>/dev/null; then
    kill -TERM "$running_pid"
    for _ in $(seq 100); do
        kill -0 "$running_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$running_pid" 2>/dev/null; then
        fail "ferrun did not close within 10 s of SIGTERM"
        kill -KILL "$running_pid"
    fi
    wait "$running_pid"
    status=$?
    [[ $status -eq 0 ]] || fail "ferrun ended with $status after SIGTERM"
else
    wait "$running_pid"
    fail "ferrun ended by itself with $? before SIGTERM"
fi
running_pid=
if [[ $failures -ne $failures_before_window ]]; then
    cat "$work/window.out" >&2
fi

# The bash completion of ferrun-cli, where bash-completion reads it, completing from the
# unpacked program.
completion=$root/usr/share/bash-completion/completions/ferrun-cli
if [[ -f $completion ]]; then
    replies=$("${run_env[@]}" bash -c 'source "$1" && COMP_WORDS=("$2" export --o) &&
        COMP_CWORD=2; _ferrun_cli; echo "${COMPREPLY[*]}"' _ "$completion" \
        "$root/usr/bin/ferrun-cli" 2>&1)
    [[ $replies == --output ]] || fail "the bash completion completes 'export --o' to '$replies'"
else
    fail "usr/share/bash-completion/completions/ferrun-cli is missing"
fi

# ---- The manual pages: formatted by man without warnings, each with its NAME; ferrun-cli(1)
# with a subsection for each command its --help lists.
for p in "${programs[@]}"; do
    page=$root/usr/share/man/man1/$p.1.gz
    if [[ ! -f $page ]]; then
        fail "usr/share/man/man1/$p.1.gz is missing"
        continue
    fi
    if ! MANWIDTH=80 man --warnings -l "$page" >"$work/$p.man" 2>"$work/$p.man.err" \
        || [[ -s $work/$p.man.err ]]; then
        cat "$work/$p.man.err" >&2
        fail "man cannot format $p(1) cleanly"
    fi
    grep -q "^ *$p  *- " "$work/$p.man" || fail "$p(1) has no NAME line for $p"
done
if [[ -f $work/ferrun-cli.man ]]; then
    commands=$("${run_env[@]}" "$root/usr/bin/ferrun-cli" --help \
               | awk '/^commands:$/ { on = 1; next } on && /^ *$/ { exit } on { print $1 }')
    [[ -n $commands ]] || fail "ferrun-cli --help lists no commands"
    for c in $commands; do
        grep -q "^ *ferrun-cli $c\$" "$work/ferrun-cli.man" \
            || fail "ferrun-cli(1) has no section for the command $c"
    done
fi

# ---- The thumbnailer, run as a file manager runs it: its Exec line with %s, %i and %o
# replaced (the package's paths under the unpacked root), on a copy of the recording whose
# name has a space, into an output name without .png, without a display.
thumbnailer=$root/usr/share/thumbnailers/ferrun.thumbnailer
if [[ ! -f $thumbnailer ]]; then
    fail "usr/share/thumbnailers/ferrun.thumbnailer is missing"
elif [[ -s $kdx ]]; then
    grep -q "^MimeType=\(.*;\)\?$kdx_type;" "$thumbnailer" \
        || fail "the thumbnailer is not for $kdx_type"
    try_exec=$(sed -n 's/^TryExec=//p' "$thumbnailer")
    [[ $try_exec == /* && -x $root$try_exec ]] \
        || fail "the thumbnailer's TryExec=$try_exec is not an installed program"
    read -ra command <<<"$(sed -n 's/^Exec=//p' "$thumbnailer")"
    [[ ${command[0]:-} == /* ]] && command[0]=$root${command[0]}
    mkdir -p "$work/thumbnails"
    cp "$kdx" "$work/thumbnails/a run.kdx"
    thumbnail=$work/thumbnails/ferrun-thumbnail
    for i in "${!command[@]}"; do
        case ${command[$i]} in
        %s) command[$i]=128 ;;
        %i) command[$i]="$work/thumbnails/a run.kdx" ;;
        %o) command[$i]=$thumbnail ;;
        esac
    done
    thumbnail_env=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
    for v in "${run_env[@]:1}"; do
        [[ $v == QT_QPA_PLATFORM=* ]] || thumbnail_env+=("$v")
    done
    if ! "${thumbnail_env[@]}" "${command[@]}" >"$work/thumbnail.out" 2>&1; then
        cat "$work/thumbnail.out" >&2
        fail "the thumbnailer failed: ${command[*]}"
    elif [[ ! -s $thumbnail ]]; then
        fail "the thumbnailer wrote nothing to %o"
    else
        read -r signature < <(od -An -tx1 -N8 "$thumbnail" | tr -d ' \n'; echo)
        read -r w h < <(od -An -tu4 --endian=big -j16 -N8 "$thumbnail")
        [[ $signature == 89504e470d0a1a0a ]] || fail "the thumbnail is not a PNG"
        [[ "${w}x${h}" == 128x128 ]] || fail "the thumbnail for size 128 is ${w}x${h}"
    fi
    leftovers=$(find "$work/thumbnails" -mindepth 1 ! -name 'a run.kdx' ! -name ferrun-thumbnail)
    [[ -z $leftovers ]] || fail "the thumbnailer left files behind: $leftovers"
fi

# ---- The recording type, compiled into a database of its own beside the system's and
# resolved as file managers resolve it: by the name *.kdx, and by the leading bytes for a
# recording without that name; a file whose fourth byte differs is not a recording.
if [[ -n $kdx_type && -s $kdx ]]; then
    mkdir -p "$work/xdg/mime/packages" "$work/xdg-home" "$work/types"
    cp "$mime_xml" "$work/xdg/mime/packages/"
    if ! update-mime-database "$work/xdg/mime" >"$work/mime.out" 2>&1; then
        cat "$work/mime.out" >&2
        fail "update-mime-database refuses usr/share/mime/packages/ferrun.xml"
    fi
    cp "$kdx" "$work/types/run.kdx"
    cp "$kdx" "$work/types/run"
    { printf '\x01\x00\x10\x02'; tail -c +5 "$kdx"; } >"$work/types/other"
    type_of() {
        env XDG_DATA_HOME="$work/xdg-home" XDG_DATA_DIRS="$work/xdg:/usr/share" GIO_USE_VFS=local \
            gio info -a standard::content-type "$1" 2>/dev/null \
            | sed -n 's/^ *standard::content-type: //p'
    }
    for f in run.kdx run; do
        type=$(type_of "$work/types/$f")
        [[ $type == "$kdx_type" ]] || fail "a recording named $f is '$type', not $kdx_type"
    done
    type=$(type_of "$work/types/other")
    [[ $type != "$kdx_type" ]] || fail "a file beginning 01 00 10 02 is taken for $kdx_type"
fi

# ---- Libraries against the declared dependencies
declare -A deps providers allowed
while IFS=$'\t' read -r pkg pkg_deps pkg_provides; do
    deps[$pkg]+="$pkg_deps, "
    IFS=',' read -ra provided <<<"$pkg_provides"
    for v in "${provided[@]}"; do
        v=${v%%(*}
        v=${v//[[:space:]]/}
        [[ -n $v ]] && providers[$v]+=" $pkg"
    done
done < <(dpkg-query -W -f='${db:Status-Status}\t${Package}\t${Depends}, ${Pre-Depends}\t${Provides}\n' \
         | awk -F'\t' '$1 == "installed" { print $2 "\t" $3 "\t" $4 }')

# Package names of a Depends field: every alternative, without versions and arch qualifiers.
names_of() {
    tr ',|' '\n\n' <<<"$1" | sed 's/([^)]*)//g; s/\[[^]]*\]//g; s/:[a-z0-9-]*//; s/[[:space:]]//g' \
        | grep -v '^$'
}

queue=($(names_of "$depends"))
while [[ ${#queue[@]} -gt 0 ]]; do
    name=${queue[0]}
    queue=("${queue[@]:1}")
    [[ -n ${allowed[$name]:-} ]] && continue
    allowed[$name]=1
    for provider in ${providers[$name]:-}; do
        queue+=("$provider")
    done
    [[ -n ${deps[$name]:-} ]] && queue+=($(names_of "${deps[$name]}"))
done

# A file's candidate names for dpkg: with merged /usr, dpkg may know it under /lib or /usr/lib,
# and under the name of a symbolic link or of its target.
candidates_of() {
    local c
    for c in "$1" "$(readlink -f "$1")"; do
        echo "$c"
        case $c in
        /usr/lib/* | /usr/lib64/*) echo "${c#/usr}" ;;
        /lib/* | /lib64/*) echo "/usr$c" ;;
        esac
    done
}

# One dpkg -S for every candidate name: "pkg1:arch, pkg2: /path" per file dpkg knows.
declare -A owner_of
sort -u "$libraries" | grep -v "^$root/" >"$work/seen"
while read -r lib; do candidates_of "$lib"; done <"$work/seen" | sort -u >"$work/candidates"
while IFS= read -r line; do
    [[ $line == diversion* ]] && continue
    path=${line##*: }
    owner_of[$path]=$(sed 's/: \/.*$//' <<<"$line" | tr ',' ' ' | sed 's/:[a-z0-9-]*//g')
done < <(xargs -a "$work/candidates" -d '\n' dpkg -S 2>/dev/null)

checked=0
while read -r lib; do
    checked=$((checked + 1))
    owners=$(while read -r c; do echo ${owner_of[$c]:-}; done < <(candidates_of "$lib") \
             | tr ' ' '\n' | sed '/^$/d' | sort -u | paste -sd ' ')
    if [[ -z $owners ]]; then
        fail "$lib belongs to no package"
        continue
    fi
    ok=
    for owner in $owners; do
        [[ -n ${allowed[$owner]:-} ]] && ok=1
    done
    [[ -n $ok ]] || fail "$lib belongs to $owners, which Depends does not bring"
done <"$work/seen"
echo "libraries checked: $checked; packages reachable from Depends: ${#allowed[@]}"
[[ $checked -gt 20 ]] || fail "only $checked libraries seen: the programs did not run as expected"

# ---- lintian: errors fail the test; warnings and notes are shown.
if command -v lintian >/dev/null; then
    if lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.out" 2>&1; then
        sed 's/^/lintian: /' "$work/lintian.out"
    else
        cat "$work/lintian.out" >&2
        fail "lintian reports errors"
    fi
else
    echo "lintian is not installed: its check is skipped (make deps installs it)"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package test passed"
