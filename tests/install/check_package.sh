#!/usr/bin/env bash
# Builds the Debian package from the build into a temporary folder, unpacks it with dpkg-deb
# (nothing is installed on the system) and checks its tree, its control fields and, when lintian
# is there, that lintian finds no error. Exits 77 (skipped) only when a tool is not installed.
#
# usage: check_package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2

for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps test installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

cpack -G DEB -B "$work" --config "$build/CPackConfig.cmake" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
version=$("$build/bin/vdat" --version | cut -d' ' -f2)
arch=$(dpkg --print-architecture)
deb=$work/velmorquin-extractor_${version}_${arch}.deb
[[ -f $deb ]] || fail "no $(basename "$deb"); made: $(ls "$work")"

# The tree: the install tree under /usr, with manual pages and changelogs compressed as Debian
# wants and the licence as the copyright file.
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./usr/||' | LC_ALL=C sort \
    >"$work/tree"
sed -e 's|^\(share/man/man1/.*\)$|\1.gz|' \
    -e 's|^share/doc/velmorquin-extractor/CHANGELOG.md$|&.gz|' \
    -e 's|^share/doc/velmorquin-extractor/LICENSE$|share/doc/velmorquin-extractor/copyright|' \
    "$source/tests/install/expected-tree.txt" >"$work/expected"
echo share/doc/velmorquin-extractor/changelog.gz >>"$work/expected"
LC_ALL=C sort -o "$work/expected" "$work/expected"
diff -u "$work/expected" "$work/tree" || fail "the package's tree differs from the expected one"
mkdir "$work/unpacked"
dpkg-deb -x "$deb" "$work/unpacked"
[[ -x $work/unpacked/usr/bin/vdat && -x $work/unpacked/usr/bin/velmorquin-extractor ]] ||
    fail "the programs are not executable"
"$work/unpacked/usr/bin/vdat" --version | grep -qx "vdat $version" || fail "packaged vdat"

# The control fields: the version, and dependencies as computed from the binaries.
[[ $(dpkg-deb -f "$deb" Package) == velmorquin-extractor ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 zlib1g libqt6core6 libqt6gui6 libqt6widgets6 libqt6multimedia6 \
    libfuse3-3; do
    [[ ", $depends" == *", $lib (>= "* ]] || fail "Depends lacks $lib: $depends"
done
[[ ", $depends, " == *", qt6-qpa-plugins, "* ]] || fail "Depends lacks the Qt platform plugins"
[[ ", $depends, " == *", qt6-image-formats-plugins, "* ]] || fail "Depends lacks the tga reader"
[[ ", $depends, " == *", fuse3, "* ]] || fail "Depends lacks fusermount3 for vdat mount"
# Only what the binaries link: no development or test packages.
if grep -qE -- '-dev|gtest|benchmark' <<<"$depends"; then fail "Depends: $depends"; fi

lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || { cat "$work/lintian"; fail "lintian"; }
grep -E '^E:' "$work/lintian" && fail "lintian reports errors"
echo "package $(basename "$deb"): tree, control fields and lintian ok"
echo "Depends: $depends"
