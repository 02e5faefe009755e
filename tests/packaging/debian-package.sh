#!/usr/bin/env bash
# Builds the Debian package from the build tree with CPack and checks what apt would see:
# its control fields (name, section, maintainer, description, and dependencies computed
# from the binaries, among them Qt's widgets and libcanberra), and its contents with their
# modes: the program, both language packages in the RUNPATH's folder, the desktop entry,
# metainfo, icons, manual page, changelog and licence, all owned by root and stripped.
# It has no maintainer scripts (nothing goes where ldconfig looks), so an install and a
# removal in a private dpkg database leave nothing behind; its binaries carry Debian's
# hardening (fortified functions, stack protector, relro, bind-now); and --version prints
# the package's version.
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
packages=$(sed -n 's|.* \./usr/\(lib/.*quillstream\)/quillstream_EN\.dll$|\1|p' "$work/contents.txt")
[[ -n "$packages" ]] || fail "no language package in the package"
has -rw-r--r-- "$packages/quillstream_EN.dll"
has -rw-r--r-- "$packages/quillstream_DE.dll"
has -rw-r--r-- "share/applications/$id.desktop"
has -rw-r--r-- "share/metainfo/$id.metainfo.xml"
has -rw-r--r-- "share/icons/hicolor/scalable/apps/$id.svg"
has -rw-r--r-- "share/icons/hicolor/256x256/apps/$id.png"
has -rw-r--r-- "share/icons/hicolor/16x16/apps/$id.png"
has -rw-r--r-- share/man/man1/quillstream.1.gz
has -rw-r--r-- share/doc/quillstream/copyright
# A native package's changelog (lintian: no-changelog).
has -rw-r--r-- share/doc/quillstream/changelog.gz

dpkg-deb -x "$deb" "$work/root"
readelf -d "$work/root/usr/bin/quillstream" | grep -qF "[\$ORIGIN/../$packages]" \
    || fail "the packaged program's RUNPATH does not reach /usr/$packages"
! readelf -S "$work/root/usr/bin/quillstream" | grep -q '\.debug_info' || fail "not stripped"
gzip -dc "$work/root/usr/share/doc/quillstream/changelog.gz" | head -1 \
    | grep -qF "quillstream ($(field Version)) " || fail "the changelog does not start with this version"

grep -qE "^-rw-r--r-- root/root +[0-9]+ [-0-9]+ [:0-9]+ \./etc/xdg/quillstream/machine\.reg$" \
    "$work/contents.txt" || fail "the machine-wide settings are not /etc/xdg/quillstream/machine.reg"

echo "--- maintainer scripts"
dpkg-deb -e "$deb" "$work/control"
ls "$work/control"
grep -qxF /etc/xdg/quillstream/machine.reg "$work/control/conffiles" \
    || fail "the machine-wide settings are no conffile: $(cat "$work/control/conffiles" 2>/dev/null)"
for script in preinst postinst prerm postrm triggers; do
    [[ ! -e "$work/control/$script" ]] || fail "a maintainer script: $script ($(cat "$work/control/$script"))"
done
[[ $packages != lib/quillstream && $packages != lib ]] \
    || fail "the language packages are where CPack adds ldconfig calls: /usr/$packages"

echo "--- installed and removed in a private dpkg database"
admin=$work/dpkg
mkdir -p "$admin/info" "$admin/updates" "$work/inst"
touch "$admin/status" "$admin/available"
private=(dpkg --admindir="$admin" --instdir="$work/inst" --force-depends --force-not-root
         --force-script-chrootless --log=/dev/null)
"${private[@]}" -i "$deb" >"$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt" >&2; fail "dpkg -i"; }
[[ -x "$work/inst/usr/bin/quillstream" ]] || fail "dpkg -i installed no program"
"${private[@]}" -r quillstream >"$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt" >&2; fail "dpkg -r"; }
# Removal keeps what the administrator may have edited (the machine-wide keywords), as Debian
# asks of configuration files; purging takes that too.
state=$(dpkg-query --admindir="$admin" -W -f='${db:Status-Abbrev}' quillstream 2>/dev/null || true)
[[ $state == rc* ]] || fail "removed, the package is left in state '$state', not 'rc'"
left=$(find "$work/inst" -type f)
[[ $left == "$work/inst/etc/xdg/quillstream/machine.reg" ]] || fail "after the removal: '$left'"
"${private[@]}" -P quillstream >"$work/dpkg.txt" 2>&1 || { cat "$work/dpkg.txt" >&2; fail "dpkg -P"; }
state=$(dpkg-query --admindir="$admin" -W -f='${db:Status-Abbrev}' quillstream 2>/dev/null || true)
[[ -z "$state" || $state == un* ]] || fail "purged, the package is left in state '$state'"
[[ -z "$(find "$work/inst" -type f)" ]] || fail "files left after the purge: $(find "$work/inst" -type f)"

echo "--- hardening"
for elf in usr/bin/quillstream "usr/$packages/quillstream_EN.dll"; do
    readelf -lW "$work/root/$elf" | grep -q GNU_RELRO || fail "$elf: no relro"
    readelf -dW "$work/root/$elf" | grep -qE '\(FLAGS\).*BIND_NOW|\(FLAGS_1\).* NOW' \
        || fail "$elf: not bound at start (bind-now)"
done
program=$work/root/usr/bin/quillstream
readelf -hW "$program" | grep -q 'Type: *DYN' || fail "the program is not position-independent"
symbols=$(readelf --dyn-syms -W "$program")
grep -q '__stack_chk_fail' <<<"$symbols" || fail "the program has no stack protector"
grep -qE '__[a-z0-9_]+_chk(@|$| )' <<<"$symbols" || fail "the program calls no fortified function"

echo "--- version"
[[ $("$program" --version) == "Quillstream $(field Version)" ]] \
    || fail "--version prints '$("$program" --version)', the package is $(field Version)"
echo "debian package: ok"
