#!/usr/bin/env bash
# Checks what users get, from the built trees (test-all.sh builds them):
#   tools/check-packages.sh
# 1. `cmake --install` of build/linux into a scratch prefix holds exactly
#    the expected files; the library carries its SONAME; the installed
#    vesktest prints its version; the man page is there and names the
#    guides; the README and the guides of docs/ (with the README's
#    pictures) are installed beside each other, as in the sources, so that
#    their links hold; the run record's JSON Schema is one.
# 2. A C program compiles against the installed header alone and links the
#    installed library, both found by pkg-config, and runs a loopback
#    exchange through it with an RFC 2217 device server on 127.0.0.1.
# 3. `cpack --preset deb` makes the .deb; dpkg-deb -c lists the expected
#    files, its fields and control files are right, and its vesktest runs.
# 4. `cpack --preset win32-zip` makes the zip of the i686 release; it lists
#    the expected files, which are 32-bit and import only system DLLs; its
#    docs/ holds the user's guides (not the developers' building.md and
#    design.md) as the sources' text with CRLF line ends.
# The packages stay in build/packages.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

version=$(sed -n 's/^project(vesktest VERSION \([0-9]*\.[0-9]*\.[0-9]*\)\.[0-9]*.*/\1/p' CMakeLists.txt)
build=$(sed -n 's/^project(vesktest VERSION [0-9]*\.[0-9]*\.[0-9]*\.\([0-9]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] && [ -n "$build" ] || { echo "FAIL no version in CMakeLists.txt"; exit 1; }
title=$(printf 'VeskTest (%s) - ver %s (build %03d)' "$(uname -s)" "$version" "$build")
multiarch=$(gcc -print-multiarch)
libdir=usr/lib/$multiarch

work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-packages.XXXXXX")
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

status=0
fail() { echo "FAIL $*"; status=1; }
ok() { echo "ok   $*"; }
# same_list WHAT EXPECTED ACTUAL: two sorted lists of paths.
same_list() {
  if [ "$2" == "$3" ]; then
    ok "$1"
  else
    fail "$1 differs (< expected, > found):"
    diff <(echo "$2") <(echo "$3") | sed -n 's/^[<>].*/    &/p'
  fi
}

linux_files=$(sort <<EOF
usr/bin/vesktest
usr/include/qelnet.h
usr/include/qelnet_types.h
$libdir/libqelnet.so
$libdir/libqelnet.so.1
$libdir/libqelnet.so.$version
$libdir/pkgconfig/qelnet.pc
usr/share/doc/vesktest/README.md
usr/share/doc/vesktest/docs/building.md
usr/share/doc/vesktest/docs/design.md
usr/share/doc/vesktest/docs/images/vesktest-tui.png
usr/share/doc/vesktest/docs/images/vesktestw.png
usr/share/doc/vesktest/docs/library.md
usr/share/doc/vesktest/docs/metrics.md
usr/share/doc/vesktest/docs/tester-guide.md
usr/share/doc/vesktest/docs/unattended-runs.md
usr/share/doc/vesktest/grafana-dashboard.json
usr/share/man/man1/vesktest.1.gz
usr/share/vesktest/run_record.schema.json
EOF
)

echo "== the installed tree"
stage=$work/stage
cmake --install build/linux --prefix "$stage/usr" >/dev/null
same_list "installed files" "$linux_files" "$(cd "$stage" && find . ! -type d | sed 's|^\./||' | sort)"
soname=$(readelf -d "$stage/$libdir/libqelnet.so.$version" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" == libqelnet.so.1 ] && ok "SONAME $soname" || fail "SONAME is '$soname'"
[ "$(readlink "$stage/$libdir/libqelnet.so")" == libqelnet.so.1 ] || fail "libqelnet.so does not link to the SONAME"
tools/check-exports.sh "$stage/$libdir/libqelnet.so.$version" || status=1
# Another folder than the build's, so the library beside the build's
# program cannot stand in for the installed one.
shown=$(cd "$work" && "$stage/usr/bin/vesktest" --version)
[ "$shown" == "$title" ] && ok "vesktest --version: $shown" || fail "vesktest --version printed '$shown', not '$title'"
man=$(zcat "$stage/usr/share/man/man1/vesktest.1.gz")
grep -q '^\.TH VESKTEST "1"' <<<"$man" && grep -q -- '--batch' <<<"$man" && grep -q 'vesktestw.ini' <<<"$man" \
  && grep -q 'docs/tester-guide.md' <<<"$man" && grep -q 'docs/unattended-runs.md' <<<"$man" \
  && ok "man page vesktest(1)" || fail "the man page lacks its heading, --batch, the files or the guides"
for doc in README.md $(cd docs && ls *.md images/*.png | sed 's|^|docs/|'); do
  cmp -s "$stage/usr/share/doc/vesktest/$doc" "$doc" || fail "the installed $doc is not the source's"
done
python3 -c 'import json, sys, jsonschema; jsonschema.Draft202012Validator.check_schema(json.load(open(sys.argv[1])))' \
  "$stage/usr/share/vesktest/run_record.schema.json" && ok "the run record's JSON Schema" \
  || fail "usr/share/vesktest/run_record.schema.json is no JSON Schema"

echo "== a C program against the installed header and library"
export PKG_CONFIG_LIBDIR=$stage/$libdir/pkgconfig
unset PKG_CONFIG_PATH
[ "$(pkg-config --modversion qelnet)" == "$version" ] || fail "pkg-config says version $(pkg-config --modversion qelnet)"
cflags=$(pkg-config --cflags qelnet)
libs=$(pkg-config --libs qelnet)
found_libdir=$(pkg-config --variable=libdir qelnet)
[ "$found_libdir" == "$stage/$libdir" ] || fail "pkg-config's libdir is $found_libdir"
# Strict C, and the header in C++ too; no include path but pkg-config's.
cc -std=c99 -Wall -Wextra -pedantic -Werror $cflags tests/install/qelnet_loopback.c $libs \
  -Wl,-rpath,"$found_libdir" -o "$work/qelnet_loopback"
echo '#include <qelnet.h>' | c++ -x c++ -std=c++11 -Wall -Wextra -pedantic -Werror $cflags -fsyntax-only -
needed=$(ldd "$work/qelnet_loopback")
grep -q "libqelnet.so.1 => $stage/$libdir/libqelnet.so.1 " <<<"$needed" \
  || fail "the program does not use the installed library: $needed"
# Debian's own Python, which python3-serial belongs to (a python3 of
# another installation may come first on the PATH).
/usr/bin/python3 tests/install/rfc2217_loop_server.py >"$work/server-port" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/server-port" ] && break; sleep 0.1; done
server_port=$(head -1 "$work/server-port")
[ -n "$server_port" ] || { fail "the device server did not start"; exit 1; }
if (cd "$work" && timeout 60 ./qelnet_loopback "127.0.0.1:$server_port"); then
  ok "loopback exchange through the installed library"
else
  fail "loopback exchange"
fi
wait "$server_pid" 2>/dev/null || true
server_pid=

echo "== the Debian package"
cpack --preset deb >"$work/cpack-deb.log" 2>&1 || { cat "$work/cpack-deb.log"; fail "cpack --preset deb"; exit 1; }
deb=build/packages/vesktest_${version}-1_$(dpkg --print-architecture).deb
[ -f "$deb" ] || { fail "no $deb"; exit 1; }
same_list "dpkg-deb -c $deb" "$linux_files" \
  "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort)"
[ "$(dpkg-deb -f "$deb" Package)" == vesktest ] || fail "Package is $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" == "$version-1" ] || fail "Version is $(dpkg-deb -f "$deb" Version)"
depends=$(dpkg-deb -f "$deb" Depends)
for dep in libc6 libncurses6 libstdc++6 libsqlite3-0 libpq5 libodbc2; do
  grep -q "$dep" <<<"$depends" || fail "Depends lacks $dep: $depends"
done
dpkg-deb -e "$deb" "$work/control"
grep -qx "libqelnet 1 vesktest (>= $version-1)" "$work/control/shlibs" \
  || fail "shlibs: $(cat "$work/control/shlibs" 2>/dev/null)"
grep -q '^\s*ldconfig$' "$work/control/postinst" || fail "postinst does not run ldconfig"
dpkg-deb -x "$deb" "$work/deb"
grep -qx 'prefix=/usr' "$work/deb/$libdir/pkgconfig/qelnet.pc" || fail "qelnet.pc in the package: $(head -1 "$work/deb/$libdir/pkgconfig/qelnet.pc")"
shown=$(cd "$work" && "$work/deb/usr/bin/vesktest" --version)
[ "$shown" == "$title" ] && ok "the package's vesktest runs: $shown" || fail "the package's vesktest printed '$shown'"

echo "== the Windows zip (i686 release)"
cpack --preset win32-zip >"$work/cpack-zip.log" 2>&1 || { cat "$work/cpack-zip.log"; fail "cpack --preset win32-zip"; exit 1; }
folder=vesktest-$version-win32
zip=build/packages/$folder.zip
[ -f "$zip" ] || { fail "no $zip"; exit 1; }
zip_files=$(sort <<EOF
$folder/README.txt
$folder/docs/library.md
$folder/docs/metrics.md
$folder/docs/tester-guide.md
$folder/docs/unattended-runs.md
$folder/grafana-dashboard.json
$folder/qelnet.dll
$folder/qelnet.dll.a
$folder/qelnet.h
$folder/qelnet_types.h
$folder/run_record.schema.json
$folder/vesktest.exe
$folder/vesktestw.exe
$folder/vesktestw.ini
EOF
)
listed=$(python3 -c 'import sys, zipfile
print("\n".join(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/")))' "$zip" | sort)
same_list "files of $zip" "$zip_files" "$listed"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$work/zip"
tools/check-windows-binaries.sh "$work/zip/$folder" vesktestw.exe vesktest.exe qelnet.dll || status=1
tools/check-exports.sh "$work/zip/$folder/qelnet.dll" || status=1
grep -q $'\r$' "$work/zip/$folder/README.txt" || fail "README.txt has no CRLF line ends"
for doc in library.md metrics.md tester-guide.md unattended-runs.md; do
  cmp -s <(tr -d '\r' <"$work/zip/$folder/docs/$doc") "docs/$doc" && grep -q $'\r$' "$work/zip/$folder/docs/$doc" \
    || fail "the zip's docs/$doc is not the source's with CRLF line ends"
done
cmp -s "$work/zip/$folder/qelnet.h" netserial/qelnet.h || fail "the zip's qelnet.h is not the source's"
cmp -s "$work/zip/$folder/run_record.schema.json" tester/report/run_record.schema.json \
  || fail "the zip's run_record.schema.json is not the source's"

[ $status -eq 0 ] && echo "packages: all checks passed"
exit $status
