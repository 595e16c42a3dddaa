#!/usr/bin/env bash
# The playlist at size (bench_playlist): event-loop lag and data() cost with a folder
# of 1,000 clips and with 60 copies of a 2160p clip, thumbnails per second beside the
# ffmpeg tool, and a restart from the disk cache. About 3 minutes on two cores once
# the clips exist; making them takes about one more.
#
# Usage: bench/playlist.sh [--media-only] [BUILD_DIR]
# Environment:
#   BENCH_MEDIA   clip cache, default BUILD_DIR/bench-media (made once, kept)
#   BENCH_RUNS    runs of the restart and rate figures, default 3 (the median is reported)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
media_only=0
if [ "${1:-}" = "--media-only" ]; then media_only=1; shift; fi
build=$(realpath -m "${1:-$root/build}")
media=${BENCH_MEDIA:-$build/bench-media}/playlist

command -v ffmpeg >/dev/null || { echo "bench: ffmpeg is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }

# --- clips -------------------------------------------------------------------------
# folder-1000: 20 short 320x240 clips, each in its own colours, copied 50 times under
# distinct names (every copy is a file of its own to probe and cache);
# 1080p-20 and 2160p-60: copies of a one-second H.264 clip with light noise.
make_clips() {
  local stamp="$media/.complete-$(sed -n '/^make_clips()/,/^}/p' "$0" | sha1sum | cut -c1-12)"
  [ -f "$stamp" ] && return 0
  rm -rf "$media"
  mkdir -p "$media/folder-1000" "$media/1080p-20" "$media/2160p-60" "$media/src"
  local ff=(ffmpeg -nostdin -hide_banner -loglevel error -y)
  local h264=(-c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k)
  echo "bench: making the playlist clips" >&2
  for i in $(seq 0 19); do
    "${ff[@]}" -f lavfi -i "testsrc2=size=320x240:rate=25:duration=1,hue=h=$((i * 18))" \
               -f lavfi -i sine=frequency=440:duration=1 "${h264[@]}" -shortest "$media/src/small-$i.mp4"
    for copy in $(seq 0 49); do
      cp "$media/src/small-$i.mp4" "$media/folder-1000/$(printf 'clip-%02d-%02d.mp4' "$copy" "$i")"
    done
  done
  for clip in "1920x1080:1080p-20:20:8M" "3840x2160:2160p-60:60:25M"; do
    IFS=: read -r size dir copies rate <<<"$clip"
    "${ff[@]}" -f lavfi -i "testsrc2=size=$size:rate=30:duration=1" -f lavfi -i sine=frequency=440:duration=1 \
               -vf noise=alls=6:allf=t -g 60 "${h264[@]}" -maxrate "$rate" -bufsize "$rate" -shortest "$media/src/$dir.mp4"
    for copy in $(seq 1 "$copies"); do
      cp "$media/src/$dir.mp4" "$media/$dir/$(printf 'copy-%02d.mp4' "$copy")"
    done
  done
  touch "$stamp"
}
make_clips
[ "$media_only" = 1 ] && exit 0

# --- build and measure ---------------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if grep -q '^ZELTORA_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "bench: warning: $build is a sanitizer build; its figures say little" >&2
fi
cmake --build "$build" --target bench_playlist
# A private home: nothing of the user's settings or cache is read or written.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
HOME=$home XDG_CACHE_HOME=$home/.cache XDG_CONFIG_HOME=$home/.config QT_QPA_PLATFORM=offscreen \
  "$build/bench/bench_playlist" report "$media" "${BENCH_RUNS:-3}"
