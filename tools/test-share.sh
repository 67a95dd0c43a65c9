#!/usr/bin/env bash
# Prints how much of the C++ is tests: non-blank lines of .cpp/.h in the product (src/, tools/)
# and in the tests (tests/, fuzz/, and the packaging tests). We keep tests at a quarter to a third
# of all lines; with --check, more than a third fails.
set -euo pipefail
cd "$(dirname "$0")/.."

lines() {
  git ls-files -- "$@" | grep -E '\.(cpp|h)$' | tr '\n' '\0' | xargs -0 -r cat |
    grep -c -v -E '^[[:space:]]*$' || true
}
code=$(lines src tools)
tests=$(lines tests fuzz 'packaging/*Test.cpp')
percent=$((100 * tests / (code + tests)))
echo "test share: ${code} lines of code, ${tests} lines of tests: tests are ${percent}% of all C++ lines"
if [ "${1:-}" = "--check" ] && [ $((3 * tests)) -gt $((code + tests)) ]; then
  echo "the tests are more than a third of all C++ lines"
  exit 1
fi
