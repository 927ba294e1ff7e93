#!/usr/bin/env bash
# `cmake --install` into a temporary DESTDIR: the installed programs run (--version, evgpack
# demo) and the manual pages, desktop entry and icon are in place. Then the Debian package:
# its control data (dependencies found from the linked libraries) and its file list.
set -u
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr > "$work/install.txt" || fail "cmake --install: $(cat "$work/install.txt")"
installed="usr/bin/evergreen usr/bin/evgpack usr/share/man/man1/evergreen.1 usr/share/man/man1/evgpack.1
  usr/share/applications/evergreen.desktop usr/share/icons/hicolor/64x64/apps/evergreen.png"
for f in $installed; do [ -f "$root/$f" ] || fail "not installed: $f"; done
"$root/usr/bin/evergreen" --version | grep -q "^evergreen [0-9]" || fail "installed evergreen --version"
"$root/usr/bin/evgpack" demo -o "$work/Demo.evg" --count 4 > /dev/null && [ -s "$work/Demo.evg" ] \
    || fail "installed evgpack demo"
grep -q "^Exec=evergreen" "$root/usr/share/applications/evergreen.desktop" || fail "desktop entry"
if command -v man > /dev/null; then
    for page in evergreen evgpack; do
        man -l "$root/usr/share/man/man1/$page.1" 2> "$work/man.txt" | grep -q "^SYNOPSIS" && [ ! -s "$work/man.txt" ] \
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
    fi
fi
[ "$failures" -eq 0 ] && echo "install and package: all checks passed"
exit $((failures > 0))
