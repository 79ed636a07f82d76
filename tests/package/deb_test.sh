#!/usr/bin/env bash
# deb_test.sh BUILD_DIR CMAKE VERSION: makes the .deb of BUILD_DIR, unpacks it
# into a scratch root and checks what a user gets: the program runs from
# there, the manual page, the profiles and the notes are where they belong.
set -euo pipefail
build=$1 cmake=$2 version=$3
cpack=$(dirname "$cmake")/cpack
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "deb_test: $*" >&2; exit 1; }

(cd "$scratch" && "$cpack" --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(find "$scratch/out" -name "*.deb" | head -1)
[ -n "$deb" ] || fail "cpack made no .deb"

fields=$(dpkg-deb --field "$deb" Package Version Depends)
grep -qx "Package: qzflash" <<<"$fields" || fail "package name: $fields"
grep -qx "Version: $version" <<<"$fields" || fail "package version: $fields"
grep -q "libc6" <<<"$fields" || fail "no dependencies: $fields"

root=$scratch/root
dpkg -x "$deb" "$root"
for f in usr/bin/qzflash usr/share/man/man1/qzflash.1 usr/share/qzflash/profiles/README.md \
         usr/share/qzflash/profiles/dual-bios.profile usr/share/doc/qzflash/ROOT-ACCESS \
         usr/share/doc/qzflash/copyright; do
  [ -f "$root/$f" ] || fail "missing /$f"
done
# Nothing from the build or test trees rides along.
extra=$(cd "$root" && find . -type f | grep -vE '^\./usr/(bin/qzflash|share/(man/man1/qzflash\.1|qzflash/profiles/[^/]+|doc/qzflash/[^/]+))$' || true)
[ -z "$extra" ] || fail "unexpected files: $extra"

# The manual page made for the package's prefix.
grep -q '/usr/share/qzflash/profiles' "$root/usr/share/man/man1/qzflash.1" || fail "the page's FILES is not /usr/share"
! grep -q '/usr/local' "$root/usr/share/man/man1/qzflash.1" || fail "the page names /usr/local"

# The installed program on the built-in virtual machine, from a folder of its own.
out=$(cd "$scratch" && "$root/usr/bin/qzflash" --virtual list) || fail "qzflash --virtual list failed"
lines=$(grep -c '^[0-9]:' <<<"$out" || true)
[ "$lines" -eq 3 ] || fail "expected three cards, got: $out"
"$root/usr/bin/qzflash" --version | grep -qx "qzflash $version" || fail "--version"
# An example profile by its bare name, beside the program wherever it is.
out=$(cd "$scratch" && "$root/usr/bin/qzflash" --virtual three-cards list) || fail "--virtual three-cards list failed"
[ "$(grep -c '^[0-9]:' <<<"$out")" -eq 3 ] || fail "three-cards by name gave: $out"
echo "deb_test: $(basename "$deb") installs and runs"
