#!/usr/bin/env bash
# `make install` into a temporary DESTDIR: the installed programs are stripped and run, and the
# manual pages, desktop entry, icons, AppStream metadata, demo pack and Debian documents are in
# place; desktop-file-validate and appstreamcli check theirs when present. Then the Debian
# package: its control data (dependencies found from the linked libraries), its file list, and
# lintian (no errors or warnings) when present.
set -u
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Runs a checker when it is installed; says so when it is not.
check_with() {
    if command -v "$1" > /dev/null; then
        "$@" > "$work/check.txt" 2>&1 || fail "$*: $(cat "$work/check.txt")"
    else
        echo "SKIP $1: not installed"
    fi
}

root=$work/root
make -s -C "$source" install BUILD="$build" DESTDIR="$root" PREFIX=/usr > "$work/install.txt" 2>&1 \
    || fail "make install: $(cat "$work/install.txt")"
installed="usr/bin/evergreen usr/bin/evgpack usr/share/man/man1/evergreen.1.gz usr/share/man/man1/evgpack.1.gz
  usr/share/applications/evergreen.desktop usr/share/icons/hicolor/scalable/apps/evergreen.svg
  usr/share/metainfo/org.evergreen_viewer.evergreen.metainfo.xml usr/share/evergreen/Default.evg
  usr/share/doc/evergreen/copyright usr/share/doc/evergreen/changelog.Debian.gz"
for edge in 48 64 128 256; do installed+=" usr/share/icons/hicolor/${edge}x$edge/apps/evergreen.png"; done
for f in $installed; do [ -f "$root/$f" ] || fail "not installed: $f"; done
for program in evergreen evgpack; do
    ! readelf -S "$root/usr/bin/$program" | grep -q -e "\.symtab" -e "\.debug" || fail "$program not stripped"
done
"$root/usr/bin/evergreen" --version | grep -q "^evergreen [0-9]" || fail "installed evergreen --version"
"$root/usr/bin/evgpack" info "$root/usr/share/evergreen/Default.evg" > /dev/null || fail "installed demo pack"
grep -qx "Exec=evergreen --library" "$root/usr/share/applications/evergreen.desktop" || fail "desktop entry"
check_with desktop-file-validate "$root/usr/share/applications/evergreen.desktop"
check_with appstreamcli validate --no-net "$root/usr/share/metainfo/org.evergreen_viewer.evergreen.metainfo.xml"
if command -v man > /dev/null; then
    for page in evergreen evgpack; do
        man -l "$root/usr/share/man/man1/$page.1.gz" 2> "$work/man.txt" | grep -q "^SYNOPSIS" && [ ! -s "$work/man.txt" ] \
            || fail "man page $page: $(cat "$work/man.txt")"
    done
fi

if ! command -v dpkg-deb > /dev/null || ! command -v dpkg-shlibdeps > /dev/null || ! command -v file > /dev/null; then
    echo "SKIP the package: dpkg-deb, dpkg-shlibdeps or file is missing (scripts/packages-deb.txt)"
else
    (cd "$work" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" > cpack.txt 2>&1) \
        || fail "cpack: $(cat "$work/cpack.txt")"
    deb=$(ls "$work"/pkg/evergreen_*.deb 2> /dev/null | head -n 1)
    if [ -z "$deb" ]; then
        fail "no evergreen_*.deb"
    else
        [ "$(dpkg-deb -f "$deb" Package)" = "evergreen" ] || fail "package name"
        depends=$(dpkg-deb -f "$deb" Depends)
        for lib in libc6 libsdl1.2debian libpng16-16 libgif7 libjpeg62-turbo libx11-6; do
            echo "$depends" | grep -q "$lib" || fail "Depends lacks $lib: $depends"
        done
        dpkg-deb -c "$deb" | awk '{print $NF}' > "$work/files.txt"
        for f in $installed; do grep -qx "./$f" "$work/files.txt" || fail "not in the package: $f"; done
        check_with lintian --fail-on error,warning "$deb"
    fi
fi
[ "$failures" -eq 0 ] && echo "install and package: all checks passed"
exit $((failures > 0))
