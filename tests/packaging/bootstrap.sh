#!/usr/bin/env bash
# scripts/bootstrap runs before every `make run` and `make test`. With every package it names
# installed (this test runs after a bootstrap, so they are) it must be silent and must not
# call the package manager, which would need the network. With one package missing it must
# call apt-get for that package alone, and fail with a message when apt-get succeeds but dpkg
# still does not report the package, as happens with a virtual package name.
#
# usage: bootstrap.sh <source dir>
set -euo pipefail

src=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/quillstream-bootstrap.XXXXXXXX")
keep=0
cleanup() { if [[ $keep -eq 0 ]]; then rm -rf "$work"; else echo "kept for inspection: $work" >&2; fi; }
trap cleanup EXIT
fail() { keep=1; echo "FAIL: $*" >&2; exit 1; }

# Stand-ins that record each call instead of reaching the package manager.
mkdir "$work/bin"
for tool in apt-get apt sudo; do
    printf '#!/bin/sh\necho "%s $*" >>"%s/calls.txt"\n' "$tool" "$work" >"$work/bin/$tool"
done
chmod +x "$work/bin"/*
real_query=$(command -v dpkg-query)

run() { # <path>: runs the bootstrap with the stand-ins first on PATH
    PATH="$1:$work/bin:$PATH" "$src/scripts/bootstrap" >"$work/out.txt" 2>&1
}

echo "--- everything installed"
run "$work/bin" || { cat "$work/out.txt" >&2; fail "bootstrap failed with everything installed"; }
[[ ! -s "$work/out.txt" ]] || { cat "$work/out.txt" >&2; fail "bootstrap printed something"; }
[[ ! -e "$work/calls.txt" ]] || { cat "$work/calls.txt" >&2; fail "bootstrap called the package manager"; }

echo "--- xclip reported missing"
# A dpkg-query that never reports xclip, before and after the install.
mkdir "$work/hide"
cat >"$work/hide/dpkg-query" <<STUB
#!/bin/sh
"$real_query" "\$@" | grep -v '^xclip[:	]'
STUB
chmod +x "$work/hide/dpkg-query"
if run "$work/hide"; then cat "$work/out.txt" >&2; fail "bootstrap succeeded although xclip stayed missing"; fi
grep -q "apt-get install .* xclip$" "$work/calls.txt" || { cat "$work/calls.txt" >&2; fail "apt-get was not asked for xclip alone"; }
[[ $(grep -c "apt-get install" "$work/calls.txt") -eq 1 ]] || fail "more than one install"
grep -q "dpkg does not report .*installed.*: xclip" <(tr '\n' ' ' <"$work/out.txt") \
    || { cat "$work/out.txt" >&2; fail "no message names the package that stayed missing"; }
echo "bootstrap: ok"
