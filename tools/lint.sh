#!/usr/bin/env bash
# First the documentation: its relative links, and every option of the
# built vesktest's --help in docs/ (tools/check-docs.py; it fails when
# build/linux/bin/vesktest is not built, which test-all.sh builds first).
# Then static analysis of the portable code and the POSIX side with
# cppcheck. Windows-only files are left to the compiler's warnings
# (cppcheck has no <windows.h> to read).
set -euo pipefail
cd "$(dirname "$0")/.."
python3 tools/check-docs.py
mapfile -t files < <(git ls-files 'platform/*.cpp' 'netserial/*.cpp' 'tester/*.cpp' \
                     | grep -v -E '(_win32\.cpp|/win32/)')
[ ${#files[@]} -gt 0 ] || exit 0
cppcheck --quiet --error-exitcode=1 --std=c++17 --language=c++ \
  --enable=warning,performance,portability \
  --inline-suppr --suppress=missingIncludeSystem \
  -I . "${files[@]}"
