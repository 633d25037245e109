#!/usr/bin/env bash
# The documentation check on the real tree, and on small trees that break
# it: a link to a missing file, a link to a heading that is not there, an
# option of --help that no guide names, and no program to ask at all. Each
# broken tree must fail, naming the fault; links inside code do not count.
#
#   bash check_docs_test.sh path/to/vesktest
set -u
program=${1:?usage: check_docs_test.sh path/to/vesktest}
check=$(cd "$(dirname "$0")/../.." && pwd)/tools/check-docs.py
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

python3 "$check" --vesktest "$program" || fail "the real tree's documentation fails its check"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# A stand-in for vesktest whose --help lists two options.
cat >"$scratch/vesktest" <<'HELP'
#!/bin/sh
cat <<'TEXT'
Usage: vesktest [OPTIONS] [CONFIGURATION]

Options:
  --batch SECONDS  Run unattended.
                   --not-an-option in a continuation line.
  --check-rate     Fail a slow port.
  -h, --help       Show this help and exit.
TEXT
HELP
chmod +x "$scratch/vesktest"

# tree NAME: a tree whose README links to its guide's heading, and whose
# guide names every option. Files given after NAME replace its files.
tree() {
  local dir=$scratch/$1
  mkdir -p "$dir/docs"
  printf '# T\n\nRead [the guide](docs/guide.md#every-option).\n' >"$dir/README.md"
  printf '# Guide\n\n## Every option\n\n`--batch`, `--check-rate`, `--help`.\n\n    [in code](missing.md)\n\nAnd `[a span](missing.md)`; back to [the top](../README.md#t).\n' \
    >"$dir/docs/guide.md"
}
# expect NAME PATTERN [ARGS...]: the check fails on tree NAME and says PATTERN.
expect() {
  local name=$1 pattern=$2 out
  shift 2
  if out=$(python3 "$check" --root "$scratch/$name" "$@" 2>&1); then
    fail "$name: passed"
  elif ! grep -q -- "$pattern" <<<"$out"; then
    fail "$name: did not say '$pattern': $out"
  fi
}

tree clean
python3 "$check" --root "$scratch/clean" --vesktest "$scratch/vesktest" >/dev/null ||
  fail "a tree whose links and options hold failed: $(python3 "$check" --root "$scratch/clean" --vesktest "$scratch/vesktest")"

tree file
printf '\nSee [the design](docs/design.md).\n' >>"$scratch/file/README.md"
expect file 'README.md:5: link to docs/design.md: no such file' --vesktest "$scratch/vesktest"

tree anchor
printf '\nSee [options](#every-options) and ![a picture](images/none.png).\n' >>"$scratch/anchor/docs/guide.md"
expect anchor 'docs/guide.md:11: link to #every-options: docs/guide.md has no heading #every-options' \
  --vesktest "$scratch/vesktest"
expect anchor 'docs/guide.md:11: link to images/none.png: no such file' --vesktest "$scratch/vesktest"

tree option
sed -i 's/`--check-rate`, //' "$scratch/option/docs/guide.md"
printf '\nThe `--check-rates` word is another option.\n' >>"$scratch/option/docs/guide.md"
expect option 'the option --check-rate of vesktest --help appears in no guide' \
  --vesktest "$scratch/vesktest"

tree noprogram
expect noprogram 'no vesktest to ask for its options' --vesktest "$scratch/none/vesktest"

[ "$failures" -eq 0 ] && echo "check-docs: all cases pass"
exit $((failures != 0))
