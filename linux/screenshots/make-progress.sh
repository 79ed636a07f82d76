#!/usr/bin/env bash
# make-progress.sh [BUILD_DIR]: remakes progress.png beside this script: the
# terminal while qzflash updates a virtual card, from a real run with the
# real waits inside script(1), cut where the write is half done and drawn by
# ImageMagick. BUILD_DIR is a native tree with qzflash built (build/native).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build/native}
qzflash=$build/linux/qzflash
command -v convert >/dev/null || { echo "make-progress: needs ImageMagick (apt-get install imagemagick)" >&2; exit 2; }
command -v script >/dev/null || { echo "make-progress: needs script(1) (bsdutils)" >&2; exit 2; }
[ -x "$qzflash" ] || { echo "make-progress: no $qzflash; build the native tree first" >&2; exit 2; }

work=$(mktemp -d /tmp/qz.XXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$root/vcard/profiles/one-card.profile" card.profile
# An image newer than the card's: the one the demo makes for it.
"$qzflash" --virtual card.profile --no-wait --yes demo made >/dev/null
cp made/new.rom new.rom
rm one-card.rom   # the card as its profile describes it again
shown="qzflash --virtual card.profile --yes update new.rom"
XDG_STATE_HOME=$work/state script -qec "$qzflash --virtual card.profile --yes update new.rom" typescript \
  </dev/null >/dev/null

# The screen as a terminal shows it when the write is half done: carriage
# returns, erases to the end of the line and newlines played back.
python3 - "$shown" typescript >screen.txt <<'PY'
import sys
shown, path = sys.argv[1], sys.argv[2]
data = open(path, encoding="utf-8", errors="replace", newline="").read()
if data.startswith("Script started"):
    data = data[data.index("\n") + 1:]
half = data.index("Writing   [" + "#" * 20)
data = data[:data.index("\x1b[K", half)]
lines, column = [""], 0
i = 0
while i < len(data):
    c = data[i]
    if data.startswith("\x1b[K", i):
        lines[-1] = lines[-1][:column]
        i += 3
        continue
    if c == "\r":
        column = 0
    elif c == "\n":
        lines.append("")
        column = 0
    else:
        line = lines[-1].ljust(column)
        lines[-1] = line[:column] + c + line[column + 1:]
        column += 1
    i += 1
print("$ " + shown)
print("\n".join(lines))
PY
text=$(sed 's/%/%%/g' screen.txt)
convert -background '#1e1e1e' -fill '#d4d4d4' -font DejaVu-Sans-Mono -pointsize 14 "label:$text" \
  -bordercolor '#1e1e1e' -border 16 "$here/progress.png"
echo "make-progress: $here/progress.png"
