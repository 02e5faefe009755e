#!/usr/bin/env bash
# Builds the Debian package from the build tree with CPack and checks what apt would see:
# its control fields (name, section, maintainer, description, and dependencies computed
# from the binaries, among them Qt's widgets and libcanberra), and its contents with their
# modes: the program, both language packages in the RUNPATH's folder, the desktop entry,
# metainfo, icons, manual page and licence, all owned by root and stripped.
#
# usage: debian-package.sh <cpack> <build dir>
set -euo pipefail

cpack=$1
build=$2
id=io.orix.quillstream
work=$(mktemp -d "${TMPDIR:-/tmp}/quillstream-deb.XXXXXXXX")
keep=0
cleanup() { if [[ $keep -eq 0 ]]; then rm -rf "$work"; else echo "kept for inspection: $work" >&2; fi; }
trap cleanup EXIT
fail() { keep=1; echo "FAIL: $*" >&2; exit 1; }

"$cpack" --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.txt" 2>&1 \
    || { cat "$work/cpack.txt" >&2; fail "cpack failed"; }
debs=("$work"/quillstream_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || fail "expected one quillstream_*.deb, got: ${debs[*]}"
deb=${debs[0]}

field() { dpkg-deb -f "$deb" "$1"; }
echo "--- control"; dpkg-deb -f "$deb"
[[ $(field Package) == quillstream ]] || fail "package name $(field Package)"
[[ $(field Section) == utils ]] || fail "section $(field Section)"
[[ $(field Architecture) == "$(dpkg --print-architecture)" ]] || fail "architecture $(field Architecture)"
[[ $(field Maintainer) =~ ^.+\ \<.+@.+\>$ ]] || fail "maintainer '$(field Maintainer)' is not 'Name <address>'"
[[ -n $(field Description | sed -n '2p') ]] || fail "no long description"
depends=$(field Depends)
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libcanberra0; do
    [[ ", $depends," == *", $lib "* || ", $depends," == *", $lib,"* ]] \
        || fail "Depends lacks $lib: $depends"
done
grep -q "(>= " <<<"$depends" || fail "dependencies carry no versions: dpkg-shlibdeps did not run"

echo "--- contents"; dpkg-deb -c "$deb" | tee "$work/contents.txt"
has() { # <mode> <path>
    grep -qE "^$1 root/root +[0-9]+ [-0-9]+ [:0-9]+ \./usr/$2$" "$work/contents.txt" \
        || fail "not in the package as $1 root/root: /usr/$2"
}
has -rwxr-xr-x bin/quillstream
has -rw-r--r-- lib/quillstream/quillstream_EN.dll
has -rw-r--r-- lib/quillstream/quillstream_DE.dll
has -rw-r--r-- "share/applications/$id.desktop"
has -rw-r--r-- "share/metainfo/$id.metainfo.xml"
has -rw-r--r-- "share/icons/hicolor/scalable/apps/$id.svg"
has -rw-r--r-- "share/icons/hicolor/256x256/apps/$id.png"
has -rw-r--r-- "share/icons/hicolor/16x16/apps/$id.png"
has -rw-r--r-- share/man/man1/quillstream.1.gz
has -rw-r--r-- share/doc/quillstream/copyright

dpkg-deb -x "$deb" "$work/root"
readelf -d "$work/root/usr/bin/quillstream" | grep -qF '[$ORIGIN/../lib/quillstream]' \
    || fail "the packaged program's RUNPATH does not reach /usr/lib/quillstream"
! readelf -S "$work/root/usr/bin/quillstream" | grep -q '\.debug_info' || fail "not stripped"
echo "debian package: ok"
