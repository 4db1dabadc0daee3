#!/usr/bin/env bash
# Installs the build into a staging directory (as `make install DESTDIR=...`
# does) and checks that the binary runs and the man page is in place.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr/local >/dev/null
"$stage/usr/local/bin/varnik" --version | grep -q '^varnik '
page="$stage/usr/local/share/man/man1/varnik.1"
grep -q '^\.TH VARNIK 1' "$page"
for section in SYNOPSIS OPTIONS 'PARAMETERS FILE' REPORT 'EXIT STATUS' EXAMPLES; do
  grep -q "^\.SH $section" "$page" || { echo "man page lacks $section"; exit 1; }
done
# (Every key of the parameters table is looked for in the page by the unit
# test ParametersTest.EveryKeyIsInTheManPage.)
if command -v man >/dev/null 2>&1 && command -v groff >/dev/null 2>&1; then
  man -l "$page" >/dev/null 2>&1 || { echo "man cannot format the page"; exit 1; }
fi
# The Python module, when the build has it: installed where the system's
# Python finds it under the prefix, and importable from there.
if ls "$build"/python/varnik*.so >/dev/null 2>&1; then
  module=$(ls "$stage"/usr/local/lib/python3*/dist-packages/varnik*.so 2>/dev/null | head -1)
  [ -n "$module" ] || { echo "the Python module is not installed"; exit 1; }
  [ -f "$(dirname "$module")/varnik.pyi" ] || { echo "the module's stub is not installed"; exit 1; }
  PYTHONPATH=$(dirname "$module") /usr/bin/python3 -c 'import varnik; varnik.Model' ||
    { echo "the installed module does not import"; exit 1; }
fi
echo "installed and checked"
