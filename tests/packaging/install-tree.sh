#!/usr/bin/env bash
# Installs the build into a private DESTDIR under an unusual prefix and checks what a
# distribution would ship: the files and their modes, the executable's RUNPATH (relative to
# itself, so any prefix works), the desktop entry and metainfo as the desktop's own tools
# judge them, and one desktop id everywhere. Then starts the installed program under Xvfb in
# German from another folder: it must load its German package from the installed tree (not
# the build tree) and Qt's German translations.
#
# usage: install-tree.sh <cmake> <build dir>
set -euo pipefail
# shellcheck source=../support/e2e-session.sh
source "$(dirname "$0")/../support/e2e-session.sh"

cmake=$1
build=$2
id=io.orix.quillstream
prefix=/opt/quillstream-check
# Without links in it: the program names the file by the folder it was started in.
work=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/quillstream-install.XXXXXXXX")")
root=$work/root
keep=0
pid=
cleanup() {
    if [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
    if [[ $keep -eq 0 ]]; then rm -rf "$work"; else echo "kept for inspection: $work" >&2; fi
}
trap cleanup EXIT
fail() {
    keep=1
    echo "FAIL: $*" >&2
    if [[ -f "${trace:-}" ]]; then
        echo "--- trace log" >&2
        tr -d '\r' <"$trace" | tail -30 >&2
    fi
    exit 1
}

DESTDIR=$root "$cmake" --install "$build" --prefix "$prefix" >"$work/install.txt" \
    || { cat "$work/install.txt" >&2; fail "cmake --install failed"; }
top=$root$prefix

# --- files and modes ---------------------------------------------------------------------
mode_of() { stat -c '%a' "$1"; }
expect_file() { # <path under the prefix> <mode>
    [[ -f "$top/$1" ]] || fail "not installed: $1"
    [[ $(mode_of "$top/$1") == "$2" ]] || fail "$1 has mode $(mode_of "$top/$1"), not $2"
}
expect_file bin/quillstream 755
packages=$(cd "$top" && find . -name 'quillstream_EN.dll' -printf '%h\n' | sed 's|^\./||')
[[ -n "$packages" && "$packages" == */quillstream ]] || fail "no package folder <libdir>/quillstream"
expect_file "$packages/quillstream_EN.dll" 644
expect_file "$packages/quillstream_DE.dll" 644
expect_file "share/applications/$id.desktop" 644
[[ -f $root/etc/xdg/quillstream/machine.reg && $(mode_of "$root/etc/xdg/quillstream/machine.reg") == 644 ]] \
    || fail "the machine-wide settings are not installed as /etc/xdg/quillstream/machine.reg, 644"
expect_file "share/metainfo/$id.metainfo.xml" 644
expect_file "share/icons/hicolor/scalable/apps/$id.svg" 644
for size in 16 22 24 32 48 64 128 256; do
    png=share/icons/hicolor/${size}x${size}/apps/$id.png
    expect_file "$png" 644
    file -b "$top/$png" | grep -q "PNG image data, $size x $size," || fail "$png is not ${size}px"
done
# Readable at the small sizes: the text lines, the marked line and the page's edge keep
# their own colours on whole pixels instead of blurring into blends.
for size in 16 22 24; do
    pixels=$(convert "$top/share/icons/hicolor/${size}x${size}/apps/$id.png" txt:-)
    count() { grep -ci "#$1FF" <<<"$pixels" || true; }
    grey=$(count 8A97A6) orange=$(count E0662A) edge=$(count 3A4A5C)
    [[ $grey -ge $((size / 2)) && $orange -ge $((size / 4)) && $edge -ge $size ]] \
        || fail "the ${size}px icon has $grey line, $orange marker and $edge edge pixels"
done
expect_file share/man/man1/quillstream.1.gz 644
expect_file share/doc/quillstream/copyright 644
grep -q "MIT License" "$top/share/doc/quillstream/copyright" || fail "licence is not MIT"
for section in NAME SYNOPSIS OPTIONS KEYS FILTER FILES SIGNALS "EXIT STATUS"; do
    gzip -dc "$top/share/man/man1/quillstream.1.gz" | grep -qx ".SH \"*$section\"*" \
        || fail "manual page has no $section section"
done
# Every key of the README's key table is in the manual page's KEYS section, as man shows it.
readme=$(dirname "$0")/../../README.md
keys=$(gzip -dc "$top/share/man/man1/quillstream.1.gz" | MANWIDTH=200 man -l - 2>/dev/null \
    | sed -n '/^KEYS/,/^[A-Z]/p' | tr -s ' \n' '  ')
[[ -n "$keys" ]] || fail "the manual page renders no KEYS section"
listed=0
while IFS= read -r key; do
    listed=$((listed + 1))
    [[ "$keys, " == *" $key"[,\ ]* ]] || fail "the manual page's KEYS section lacks $key"
done < <(sed -n '/^## Keys/,/^## [^K]/p' "$readme" | sed -n 's/^| \([^|]*[^ |]\) *|.*/\1/p' \
             | grep -vx 'Key' | sed 's/, /\n/g')
[[ $listed -ge 20 ]] || fail "read only $listed keys from the README's key table"
stray=$(cd "$top" && find . -type f ! -path './bin/*' ! -path "./$packages/*" ! -path './share/*')
[[ -z "$stray" ]] || fail "unexpected files: $stray"

# --- RUNPATH -------------------------------------------------------------------------------
runpath=$(readelf -d "$top/bin/quillstream" | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p')
[[ "$runpath" == "\$ORIGIN/../$packages" ]] || fail "RUNPATH is '$runpath', not \$ORIGIN/../$packages"
! readelf -d "$top/bin/quillstream" | grep -q '(RPATH)' || fail "an RPATH besides the RUNPATH"

# --- desktop entry and metainfo ------------------------------------------------------------
desktop=$top/share/applications/$id.desktop
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
[[ -z "$out" ]] || fail "desktop-file-validate: $out"
out=$(appstreamcli validate --pedantic --no-net "$top/share/metainfo/$id.metainfo.xml" 2>&1) \
    || fail "appstreamcli: $out"
! grep -qE '^[IWEP]: ' <<<"$out" || fail "appstreamcli: $out"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
grep -qx 'Exec=quillstream %F' "$desktop" || fail "the desktop entry does not start quillstream %F"
grep -q "<id>$id</id>" "$top/share/metainfo/$id.metainfo.xml" || fail "metainfo id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
    "$top/share/metainfo/$id.metainfo.xml" || fail "metainfo does not launch $id.desktop"
grep -qaF "$id" "$top/bin/quillstream" || fail "the program does not name itself $id"

version=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$top/bin/quillstream" --version) \
    || fail "--version did not end with exit code 0"
[[ "$version" == "Quillstream "[0-9]* ]] || fail "--version printed '$version'"

# --- the installed program, in German, from another folder ---------------------------------
export TMPDIR=$work/tmp XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
export XDG_RUNTIME_DIR=$work/runtime LANG=C.UTF-8 LANGUAGE=de
unset LC_ALL LC_MESSAGES QT_QPA_PLATFORM LD_LIBRARY_PATH QT_PLUGIN_PATH
mkdir -m 700 -p "$TMPDIR" "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS/quillstream" "$XDG_RUNTIME_DIR"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Orix\\Quillstream\\Logging]\r\n"LogLevel"=dword:00000003\r\n' \
    >"$XDG_CONFIG_DIRS/quillstream/machine.reg"
trace=$TMPDIR/Quillstream.log
mkdir "$work/logs"
echo "2026-12-08 10:00:00 INFO installed" >"$work/logs/app.log"

(cd "$work/logs" && exec xvfb-run -a -s "-screen 0 1024x768x24" "$top/bin/quillstream" app.log) \
    >"$work/out.txt" 2>&1 &
pid=$!
wait_trace "Opened $work/logs/app.log: 1 lines"
tr -d '\r' <"$trace" >"$work/trace.txt"
grep -qF "path: quillstream_DE.dll result: " "$work/trace.txt" || fail "German package not asked for"
loaded=$(sed -n 's/^.* : module file: //p' "$work/trace.txt" | head -1)
[[ -n "$loaded" && $(realpath "$loaded") == $(realpath "$top/$packages/quillstream_DE.dll") ]] \
    || fail "German package loaded from '$loaded', not from the installed tree"
! grep -q "Failed not load" "$work/trace.txt" || fail "a package failed to load"
grep -qE "Qt translations: .*/qtbase_de\.qm$" "$work/trace.txt" || fail "Qt's German texts not loaded"

program=
for child in $(cat /proc/"$pid"/task/*/children 2>/dev/null); do
    [[ "$(cat /proc/"$child"/comm 2>/dev/null)" == quillstream ]] && program=$child
done
[[ -n "$program" ]] || fail "cannot find the program's process"
kill -TERM "$program"
wait "$pid" || fail "the installed program did not end cleanly"
pid=
echo "install tree: ok"
