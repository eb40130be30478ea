#!/usr/bin/env bash
# Installs the wheel scripts/wheel made for the project's Python into a fresh venv outside the
# checkout, as a user would, and checks that it computes a centerline there, that it carries
# oneTBB, and that the dynamic loader finds every library of the extension without a path into
# the checkout. One line per check; stops at the first failure.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd -P)
source "$top/scripts/python.sh"
fail() {
  echo "FAIL $*"
  exit 1
}
tag=$(python_tag)
wheels=("$top"/dist/linetopo-*-"$tag"-"$tag"-manylinux_*.whl)
[ -f "${wheels[0]}" ] || fail "no wheel for $tag in dist/: run scripts/wheel"
wheel=${wheels[-1]}

d=$(mktemp -d)
trap 'rm -rf "$d"' EXIT
cd "$d"
"$python" -m venv venv
venv/bin/pip install -q "$wheel" >pip.log 2>&1 || fail "pip cannot install $wheel: $(tail -3 pip.log)"
# -I: neither the current folder nor PYTHON* variables may lead Python to the checkout.
out=$(venv/bin/python -I -c '
import linetopo
chains, nodes, ids, _ = linetopo.topologize(
    [[(0, 0), (5, 0.2), (10, 0)], [(5, -5), (5.1, 0), (5, 5)]], 0.5, 1.0)
print(linetopo.__file__)
print(len(chains), len(nodes))')
case $out in "$d"/venv/*) ;; *) fail "linetopo was imported from ${out%%$'\n'*}" ;; esac
[ "${out##*$'\n'}" = "4 5" ] || fail "a cross gave '${out##*$'\n'}' chains and nodes, not '4 5'"
echo "ok   a cross gives 4 chains and 5 nodes from the installed wheel"
version=$(venv/bin/linetopo --version) || fail "the linetopo command failed: $version"
echo "ok   the linetopo command runs: ${version%%$'\n'*}"

"$python" -m zipfile -l "$wheel" | grep -q 'linetopo\.libs/libtbb' || fail "the wheel carries no libtbb"
echo "ok   the wheel carries libtbb"

ext=$(echo "$d"/venv/lib/python*/site-packages/linetopo/_internal*.so)
libs=$(ldd "$ext")
! grep -q 'not found' <<<"$libs" || fail "ldd finds not every library: $libs"
! grep -q -F "$top" <<<"$libs" || fail "a library is loaded from the checkout: $libs"
echo "ok   ldd finds every library of the extension, none in the checkout"
