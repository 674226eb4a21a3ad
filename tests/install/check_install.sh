#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop would read from it: the
# tree, the desktop entry, the AppStream file, both manual pages, the file type (with the
# desktop's data folders pointing into the prefix only), the icons' sizes, the completion and
# the installed programs. Exits 77 (skipped) only when a checking tool is not installed.
#
# usage: check_install.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2

for tool in desktop-file-validate appstreamcli man update-mime-database xdg-mime gio file; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps test installs it)"
        exit 77
    fi
done
if [[ ! -f /usr/share/bash-completion/bash_completion ]]; then
    echo "SKIP: bash-completion is not installed (scripts/install-deps test installs it)"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cmake --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort) >"$work/tree"
LC_ALL=C sort "$source/tests/install/expected-tree.txt" >"$work/expected"
diff -u "$work/expected" "$work/tree" || fail "the installed tree differs from the expected one"

# Each icon is a PNG of the size its folder names.
for png in "$prefix"/share/icons/hicolor/*/*/*.png; do
    size=$(basename "$(dirname "$(dirname "$png")")")
    file -b "$png" | grep -q "PNG image data, ${size/x/ x }," ||
        fail "$png is not a ${size} PNG: $(file -b "$png")"
done

out=$(desktop-file-validate "$prefix/share/applications/org.velmorquin.extractor.desktop" 2>&1) ||
    fail "desktop-file-validate: $out"
[[ -z $out ]] || fail "desktop-file-validate: $out"

appstreamcli validate --no-net --pedantic \
    "$prefix/share/metainfo/org.velmorquin.extractor.metainfo.xml" >"$work/appstream" 2>&1 ||
    { cat "$work/appstream"; fail "appstreamcli validate"; }
grep -q "version=\"$("$prefix/bin/vdat" --version | cut -d' ' -f2)\"" \
    "$prefix/share/metainfo/org.velmorquin.extractor.metainfo.xml" ||
    fail "the AppStream release is not vdat's version"

for page in vdat velmorquin-extractor; do
    out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1" 2>&1 \
        >/dev/null) || fail "man $page.1 failed"
    [[ -z $out ]] || fail "man --warnings on $page.1: $out"
done

# The manual page and the completion know every command and option vdat's usage names.
page=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -l "$prefix/share/man/man1/vdat.1" 2>/dev/null | col -b)
completion=$(<"$prefix/share/bash-completion/completions/vdat")
usage=$("$prefix/bin/vdat" --help)
for command in $(grep -oE '(^| )vdat [a-z]+' <<<"$usage" | awk '{print $2}' | sort -u); do
    grep -qE "^ +$command( |$)" <<<"$page" || fail "vdat.1 does not describe '$command'"
    grep -qw -- "$command" <<<"$completion" || fail "the completion does not offer '$command'"
done
for option in $(grep -oE '(^|[ [|])--?[A-Za-z][A-Za-z-]*' <<<"$usage" | tr -d ' [|' | sort -u); do
    grep -qE -- "^ +([^ ]+, )?$option( |,|$)" <<<"$page" || fail "vdat.1 does not describe $option"
    [[ $option == --help || $option == --version ]] ||
        grep -qF -- "$option" <<<"$completion" || fail "the completion does not offer $option"
done

# The file type: the identifier decides, not the name.
XDG_DATA_DIRS="$prefix/share" update-mime-database "$prefix/share/mime"
mkdir -p "$work/data-home" "$work/files"
cp "$source/examples/sample.dat" "$work/files/sample.dat"
cp "$source/examples/sample.dat" "$work/files/renamed.bin"
head -c 4096 /dev/urandom | tr 'V' 'W' >"$work/files/random.dat"
printf 'level=3\nname=the first map\n' >"$work/files/settings.dat"
query() {
    XDG_CURRENT_DESKTOP=GNOME XDG_DATA_DIRS="$prefix/share" XDG_DATA_HOME="$work/data-home" \
        xdg-mime query filetype "$1"
}
for f in sample.dat renamed.bin; do
    type=$(query "$work/files/$f")
    [[ $type == application/x-velmorquin-dat ]] || fail "$f is '$type', not our archive type"
done
for f in random.dat settings.dat; do
    type=$(query "$work/files/$f")
    [[ -n $type && $type != application/x-velmorquin-dat ]] || fail "$f is claimed: '$type'"
done

# The completion offers the commands, and archives where one is expected.
mkdir "$work/completion"
cp "$source/examples/sample.dat" "$work/completion/sample.dat"
touch "$work/completion/other.txt"
words=$(cd "$work/completion" && PATH="$prefix/bin:$PATH" bash -c '
    source /usr/share/bash-completion/bash_completion
    source "$1"
    try() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"
            COMP_POINT=${#COMP_LINE}; COMPREPLY=(); _vdat; echo "${COMPREPLY[*]}"; }
    try vdat ex; try vdat list ""; try vdat extract sample.dat -; try vdat extract sample.dat re' \
    _ "$prefix/share/bash-completion/completions/vdat")
extract_options='-C -j -x -O -k -v -q --directory= --jobs= --exclude= --to-stdout --keep-old-files --hidden --verbose --quiet --charset= --help --'
[[ $words == $'extract\nsample.dat\n'"$extract_options"$'\nreadme.txt' ]] || fail "completion gave: $words"

"$prefix/bin/vdat" info "$source/examples/sample.dat" >/dev/null || fail "installed vdat"
QT_QPA_PLATFORM=offscreen "$prefix/bin/velmorquin-extractor" --version | grep -q '^Velmorquin' ||
    fail "installed velmorquin-extractor --version"
echo "install tree, desktop entry, AppStream, manual pages, file type and completion: ok"
