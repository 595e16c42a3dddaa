#!/usr/bin/env bash
# Starts the real program under a virtual X server on a clip of colour bars, takes a
# screenshot after a second and checks that the video area shows the bars (red, green,
# blue, white from left to right) rather than the placeholder.
set -euo pipefail
program=${1:?program}
clip=${2:?clip}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME="$work" XDG_CONFIG_HOME="$work/.config" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM
# No session bus: a Zeltora running in the developer's session would otherwise be
# handed the clip, and this start would end at once.
unset DBUS_SESSION_BUS_ADDRESS

xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$0" "$1" >"$2/log.txt" 2>&1 &
  pid=$!
  sleep 2.5
  import -window root "$2/shot.png"
  kill $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
' "$program" "$clip" "$work"

[ -s "$work/shot.png" ] || { echo "no screenshot"; cat "$work/log.txt"; exit 1; }
# One row through the middle of the window's video area.
convert "$work/shot.png" -crop 1024x1+0+260 +repage txt:- > "$work/row.txt"
python3 - "$work/row.txt" <<'PY'
import re, sys
colours = []
for line in open(sys.argv[1]):
    m = re.search(r'\((\d+),(\d+),(\d+)', line)
    if not m or line.startswith('#'):
        continue
    r, g, b = (int(v) for v in m.groups()[:3])
    if max(r, g, b) > 255:  # 16-bit output
        r, g, b = r >> 8, g >> 8, b >> 8
    name = None
    if r > 200 and g < 60 and b < 60: name = 'red'
    elif g > 200 and r < 60 and b < 60: name = 'green'
    elif b > 200 and r < 60 and g < 60: name = 'blue'
    elif r > 220 and g > 220 and b > 220: name = 'white'
    if name and (not colours or colours[-1][0] != name):
        colours.append([name, 1])
    elif name:
        colours[-1][1] += 1
runs = [c for c, n in colours if n >= 20]
print('colour runs across the video area:', runs)
sys.exit(0 if runs == ['red', 'green', 'blue', 'white'] else 1)
PY
