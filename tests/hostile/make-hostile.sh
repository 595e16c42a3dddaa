#!/usr/bin/env bash
# Generates the hostile inputs: files a user may hand the player that are empty,
# mislabelled, cut short, damaged, oddly named or out of reach.
# Usage: make-hostile.sh OUTDIR. A stamp marks a complete set.
set -euo pipefail

out=$(realpath -m "${1:?usage: make-hostile.sh OUTDIR}")
stamp="$out/.complete-$(sha1sum "$0" | cut -c1-12)"
[ -f "$stamp" ] && exit 0
rm -rf "$out"
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
video=(-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i sine=frequency=440:duration=2)
codecs=(-c:v libx264 -preset veryfast -pix_fmt yuv420p -g 25 -c:a aac -shortest)

# Deterministic damage, so a failure can be reproduced byte for byte.
damage() { # damage FILE MODE...
  python3 - "$@" <<'PY'
import os, random, sys
path, mode = sys.argv[1], sys.argv[2]
rng = random.Random(20240607)
data = bytearray(open(path, 'rb').read())
if mode == 'cut':                      # keep the first N percent
    data = data[:len(data) * int(sys.argv[3]) // 100]
elif mode == 'garbage':                # overwrite blocks in the middle third
    for i in range(6):
        at = len(data) // 3 + i * (len(data) // 18)
        data[at:at + 2048] = bytes(rng.getrandbits(8) for _ in range(2048))
elif mode == 'random':                 # N bytes of noise
    data = bytes(rng.getrandbits(8) for _ in range(int(sys.argv[3])))
open(path, 'wb').write(data)
PY
}

# Whole files to start from: the index (moov) at the end as a plain mp4 writer leaves
# it, the index in front (+faststart), and a Matroska one.
ff "${video[@]}" "${codecs[@]}" moov-at-end.mp4
ff "${video[@]}" "${codecs[@]}" -movflags +faststart faststart.mp4
ff "${video[@]}" "${codecs[@]}" whole.mkv

: > zero-bytes.mp4
printf 'Dear diary,\nthis is a text file that someone renamed.\n' > text-renamed.mp4

# Cut at 30 % with the index at the end: no index at all. Cut at 60 % with the index in
# front: opens, and its packets run out early.
cp moov-at-end.mp4 cut-30-moov-at-end.mp4 && damage cut-30-moov-at-end.mp4 cut 30
cp faststart.mp4 cut-60-faststart.mp4 && damage cut-60-faststart.mp4 cut 60

cp faststart.mp4 garbage-middle.mp4 && damage garbage-middle.mp4 garbage
cp whole.mkv garbage-middle.mkv && damage garbage-middle.mkv garbage
: > random-bytes.mkv && damage random-bytes.mkv random 65536

mkdir -p folder.mp4
cp faststart.mp4 unreadable.mp4 && chmod 000 unreadable.mp4

# Names that trip up shells, URL handling and FFmpeg's protocol prefixes.
cp faststart.mp4 "name with  spaces.mp4"
cp faststart.mp4 "中文 视频 名称.mp4"
cp faststart.mp4 -- "-leading-dash.mp4"
# "concat:a.mp4" exists as a local file and differs in size from a.mp4, so a test can
# tell which one was opened; "concat:b.mp4" does not exist while b.mp4 does.
ff -f lavfi -i testsrc2=size=96x64:rate=25:duration=2 -c:v libx264 -preset veryfast -pix_fmt yuv420p "file:concat:a.mp4"
cp faststart.mp4 a.mp4
cp faststart.mp4 b.mp4

# A path of well over 255 bytes, every component within the 255-byte limit.
long="long-$(printf 'd%.0s' {1..100})/$(printf 'e%.0s' {1..100})/$(printf 'f%.0s' {1..40})"
mkdir -p "$long"
cp faststart.mp4 "$long/$(printf '长%.0s' {1..60}).mp4"

rm -f moov-at-end.mp4 whole.mkv
touch "$stamp"
