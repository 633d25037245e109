#!/usr/bin/env bash
# Static analysis of the portable code and the POSIX side with cppcheck.
# Windows-only files are left to the compiler's warnings (cppcheck has no
# <windows.h> to read).
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files 'platform/*.cpp' 'netserial/*.cpp' 'tester/*.cpp' \
                     | grep -v -E '(_win32\.cpp|/win32/)')
[ ${#files[@]} -gt 0 ] || exit 0
cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ \
  --enable=warning,performance,portability \
  --inline-suppr --suppress=missingIncludeSystem \
  -I . "${files[@]}"
