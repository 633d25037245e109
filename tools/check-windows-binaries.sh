#!/usr/bin/env bash
# Checks the shipped Windows build: every .exe and .dll is a 32-bit PE file
# and imports nothing but DLLs that come with Windows; the console tester
# (vesktest.exe) is a console program, which a script can wait for and
# read the exit code of, and the window tester (vesktestw.exe) a GUI one.
#   tools/check-windows-binaries.sh build/mingw32-release/bin [required file...]
set -euo pipefail
dir=${1:?usage: $0 <folder with the .exe and .dll files> [required file...]}
shift
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}

# DLLs every Windows installation has (lower case); odbc32.dll, the ODBC
# driver manager, is one since Windows 2000 (the run history's odbc:).
system_dlls='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|ole32|oleaut32|ws2_32|version|msvcrt|winmm|uxtheme|shlwapi|imm32|odbc32|api-ms-win-.*)\.dll$'

# The subsystem each program must have, as objdump names it.
subsystem_of() {
  case "$(basename "$1" | tr 'A-Z' 'a-z')" in
    vesktest.exe) echo "Windows CUI" ;;
    vesktestw.exe) echo "Windows GUI" ;;
  esac
}

status=0
for required in "$@"; do
  if [ ! -f "$dir/$required" ]; then
    echo "FAIL $dir/$required was not built"
    status=1
  fi
done
shopt -s nullglob
files=("$dir"/*.exe "$dir"/*.dll)
for f in "${files[@]}"; do
  kind=$(file -b "$f")
  case "$kind" in
    "PE32 executable"*"Intel 80386"*) ;;
    *) echo "FAIL $f is not a 32-bit PE file: $kind"; status=1; continue ;;
  esac
  bad=0
  wanted=$(subsystem_of "$f")
  if [ -n "$wanted" ]; then
    found=$("$objdump" -p "$f" | sed -n 's/^Subsystem\s*[0-9a-f]*\s*(\(.*\))$/\1/p')
    if [ "$found" != "$wanted" ]; then
      echo "FAIL $f is a ${found:-unknown} program, not $wanted"
      bad=1
    fi
  fi
  while read -r dll; do
    lower=$(echo "$dll" | tr 'A-Z' 'a-z')
    if ! [[ $lower =~ $system_dlls ]]; then
      echo "FAIL $f imports $dll, which Windows does not ship"
      bad=1
    fi
  done < <("$objdump" -p "$f" | sed -n 's/^\s*DLL Name: //p')
  if [ $bad -eq 0 ]; then echo "ok   $f"; else status=1; fi
done
exit $status
