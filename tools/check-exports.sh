#!/usr/bin/env bash
# Checks the export table of the network serial library:
#   tools/check-exports.sh build/mingw32-release/bin/qelnet.dll
#   tools/check-exports.sh build/linux/bin/libqelnet.so
# qelnet.dll (32- or 64-bit) must export exactly the functions listed in
# netserial/qelnet.def, under their plain names (no stdcall @N), and import
# nothing but system DLLs. libqelnet.so must export exactly those functions
# and no other symbol, and need nothing but the C and C++ runtimes.
set -euo pipefail
lib=${1:?usage: $0 <qelnet.dll | libqelnet.so>}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
def="$here/../netserial/qelnet.def"

expected=$(sed -n 's/^ \+\(Qn[A-Za-z]\+\)$/\1/p' "$def" | sort)
[ "$(echo "$expected" | wc -l)" -eq 19 ] || { echo "FAIL $def does not list nineteen functions"; exit 1; }

status=0
fail() { echo "FAIL $lib: $*"; status=1; }

kind=$(file -b "$lib")
case "$kind" in
  PE32+*) objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump} ;;
  PE32*) objdump=${OBJDUMP:-i686-w64-mingw32-objdump} ;;
  ELF*) objdump="" ;;
  *) echo "FAIL $lib: not a PE or ELF file: $kind"; exit 1 ;;
esac

if [ -n "$objdump" ]; then
  dump=$("$objdump" -p "$lib")
  exported=$(echo "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
             | sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
  if echo "$exported" | grep -q '@'; then fail "decorated export names: $(echo "$exported" | grep '@' | tr '\n' ' ')"; fi
  system_dlls='^(kernel32|user32|ws2_32|advapi32|msvcrt|ucrtbase|api-ms-win-.*)\.dll$'
  while read -r dll; do
    [ -z "$dll" ] && continue
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    [[ $lower =~ $system_dlls ]] || fail "imports $dll, which Windows does not ship"
  done < <(echo "$dump" | sed -n 's/^\s*DLL Name: //p')
else
  exported=$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)
  while read -r needed; do
    [ -z "$needed" ] && continue
    case "$needed" in
      libc.so.*|libm.so.*|libstdc++.so.*|libgcc_s.so.*|libpthread.so.*|libdl.so.*|ld-linux*) ;;
      # Sanitizer builds bring their runtimes.
      libasan.so.*|libubsan.so.*|libtsan.so.*) ;;
      *) fail "needs $needed" ;;
    esac
  done < <(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
fi

if [ "$exported" != "$expected" ]; then
  fail "exports differ from netserial/qelnet.def"
  diff <(echo "$expected") <(echo "$exported") | sed 's/^/    /' || true
fi
[ $status -eq 0 ] && echo "ok   $lib exports the nineteen functions"
exit $status
