#!/usr/bin/env bash
# Builds the Debian package from the build folder into a temporary folder and checks what a
# user's apt would see: the files, the fields, and that the binary's libraries resolve.
#   check-package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/ambrano-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/ambrano_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no package made"

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/ambrano ./usr/share/applications/ambrano.desktop ./usr/share/icons/hicolor/scalable/apps/ambrano.svg ./usr/share/ambrano/version; do
    grep -qx "$f" <<<"$files" || fail "missing $f"
done
# Nothing of the tests, tools or benchmarks.
[ "$(grep -c -v '/$' <<<"$files")" -eq 4 ] || fail "unexpected files: $files"

[ "$(dpkg-deb -f "$deb" Package)" = ambrano ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libqt6gui6 libqt6network6 libqt6dbus6 libsodium23 libarchive13 libx11-6 libxrandr2 libc6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q 'fonts-inter' <<<"$(dpkg-deb -f "$deb" Recommends)" || fail "fonts-inter not recommended"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture"

dpkg-deb -x "$deb" "$work/root"
grep -qx 'Exec=ambrano' "$work/root/usr/share/applications/ambrano.desktop" || fail "launcher Exec"
grep -qx 'Icon=ambrano' "$work/root/usr/share/applications/ambrano.desktop" || fail "launcher Icon"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$work/root/usr/share/applications/ambrano.desktop" || fail "launcher entry"
fi
grep -q '<svg' "$work/root/usr/share/icons/hicolor/scalable/apps/ambrano.svg" || fail "icon"
if ldd "$work/root/usr/bin/ambrano" | grep -q 'not found'; then
    ldd "$work/root/usr/bin/ambrano" >&2
    fail "unresolved libraries"
fi
echo "PASS: $(basename "$deb"), Depends: $depends"
