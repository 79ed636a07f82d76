#!/usr/bin/env bash
# install_test.sh BUILD_DIR CMAKE: installs BUILD_DIR under a scratch prefix
# and checks that the program and its manual page follow that prefix: the
# page's FILES names the examples' folder there, and the installed program,
# run from elsewhere, finds an example profile by its bare name and names the
# same folder in --help.
set -euo pipefail
build=$1 cmake=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

prefix=$scratch/some/prefix
"$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
page=$prefix/share/man/man1/qzflash.1
[ -f "$page" ] || fail "no manual page at $page"
grep -q "$prefix/share/qzflash/profiles" "$page" || fail "the page's FILES does not name $prefix/share/qzflash/profiles"
! grep -q "/usr/local" "$page" || fail "the page still names /usr/local"

mkdir "$scratch/elsewhere"
out=$(cd "$scratch/elsewhere" && "$prefix/bin/qzflash" --virtual dual-bios list) || fail "--virtual dual-bios list failed"
[ "$out" = "0: NV28 (281) ,Vender ID=10DE ,Bus=1    0000:01:00.0" ] || fail "dual-bios by name gave: $out"
"$prefix/bin/qzflash" --help | tail -1 | grep -q "Example profiles: $prefix/share/qzflash/profiles$" ||
  fail "--help does not name the installed examples"
# An example is run, never written.
(cd "$scratch/elsewhere" && "$prefix/bin/qzflash" --virtual dual-bios --no-wait --yes restore >/dev/null 2>&1) ||
  fail "restore on the example failed"
[ -z "$(find "$prefix/share/qzflash/profiles" -name '*.rom')" ] || fail "the run wrote into the examples' folder"
echo "install_test: installs under $prefix and finds its files there"
