#!/usr/bin/env bash
# Measures how fast the player decodes, how much each stage of a frame costs, how
# closely playback keeps real time and how much CPU it takes, beside ffmpeg and mpv
# on the same clips, what the picture filters cost, how quickly the preview over the
# position slider appears and what subtitles cost. About 13 minutes on two cores, and up
# to 20 more for the picture filters.
#
# Usage: bench/run.sh [--media-only] [BUILD_DIR]
#   BUILD_DIR        default: build/ of the project (configured if absent)
#   --media-only     make the clips and stop
# Environment:
#   BENCH_MEDIA          clip cache, default BUILD_DIR/bench-media (made once, kept)
#   BENCH_RUNS           runs per figure, default 3 (the median is reported)
#   BENCH_PLAY_SECONDS   playback time per run, default 8
#   BENCH_SECTIONS       any of throughput,stages,playback,startup,filter,preview,subtitles; default all
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
media_only=0
if [ "${1:-}" = "--media-only" ]; then media_only=1; shift; fi
build=$(realpath -m "${1:-$root/build}")
media=${BENCH_MEDIA:-$build/bench-media}

for tool in ffmpeg mpv; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

# --- clips -------------------------------------------------------------------------
# A moving test pattern with light temporal noise (so the encoder cannot skip whole
# areas as it would on a clean synthetic picture), bit rates capped near what a
# streaming service sends, two-second key-frame distance, and an audio track, so
# the demuxer has packets to step over as in a real file.
make_clips() {
  local stamp="$media/.complete-$(sed -n '/^make_clips()/,/^}/p' "$0" | sha1sum | cut -c1-12)"
  [ -f "$stamp" ] && return 0
  mkdir -p "$media"
  local ff=(ffmpeg -nostdin -hide_banner -loglevel error -y)
  local noise="noise=alls=6:allf=t"
  # name size rate seconds codec-args...
  clip() {
    local name=$1 size=$2 rate=$3 seconds=$4; shift 4
    echo "bench: making $name" >&2
    "${ff[@]}" -f lavfi -i "testsrc2=size=$size:rate=$rate:duration=$seconds" \
               -f lavfi -i "sine=frequency=440:duration=$seconds" \
               -vf "$noise" -g $((2 * ${rate%%/*})) "$@" -shortest "$media/$name.tmp.${name##*.}"
    mv "$media/$name.tmp.${name##*.}" "$media/$name"
  }
  local h264=(-c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k)
  clip 720p25.mp4        1280x720  25 10 "${h264[@]}" -maxrate 4M  -bufsize 8M
  clip 1080p30.mp4       1920x1080 30 10 "${h264[@]}" -maxrate 8M  -bufsize 16M
  clip 1080p60.mp4       1920x1080 60 10 "${h264[@]}" -maxrate 12M -bufsize 24M
  clip 2160p30.mp4       3840x2160 30 6  "${h264[@]}" -maxrate 25M -bufsize 50M
  clip 1080p30-hevc.mp4  1920x1080 30 6  -c:v libx265 -preset ultrafast -crf 26 -pix_fmt yuv420p \
       -x265-params log-level=error -tag:v hvc1 -maxrate 6M -bufsize 12M -c:a aac -b:a 128k
  clip 1080p30-vp9.webm  1920x1080 30 6  -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 \
       -b:v 6M -pix_fmt yuv420p -c:a libopus -b:a 96k
  rm -f "$media"/.complete-*
  touch "$stamp"
}
# The picture filter stage: interlaced 1080i25 H.264 (50 fields a second, top first)
# and 2160p30 HEVC Main 10 in PQ with HDR10 metadata. A stamp of their own, so that
# adding them did not remake the clips above.
make_filter_clips() {
  local stamp="$media/.filter-$(sed -n '/^make_filter_clips()/,/^}/p' "$0" | sha1sum | cut -c1-12)"
  [ -f "$stamp" ] && return 0
  mkdir -p "$media"
  local ff=(ffmpeg -nostdin -hide_banner -loglevel error -y)
  echo "bench: making 1080i25.mp4" >&2
  "${ff[@]}" -f lavfi -i "testsrc2=size=1920x1080:rate=50:duration=6" -f lavfi -i "sine=frequency=440:duration=6" \
    -vf "noise=alls=6:allf=t,tinterlace=mode=interleave_top,setfield=tff" -g 50 \
    -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -flags +ildct+ilme -maxrate 8M -bufsize 16M \
    -c:a aac -b:a 128k -shortest "$media/1080i25.tmp.mp4"
  mv "$media/1080i25.tmp.mp4" "$media/1080i25.mp4"
  echo "bench: making 2160p30-hdr.mp4" >&2
  "${ff[@]}" -f lavfi -i "testsrc2=size=3840x2160:rate=30:duration=3" -f lavfi -i "sine=frequency=440:duration=3" \
    -vf "noise=alls=6:allf=t,format=yuv420p10le" -g 60 -c:v libx265 -preset ultrafast -crf 26 -pix_fmt yuv420p10le \
    -x265-params "log-level=error:hdr10=1:repeat-headers=1:max-cll=1000,400:master-display=G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,50)" \
    -color_primaries bt2020 -color_trc smpte2084 -colorspace bt2020nc -color_range tv -tag:v hvc1 \
    -maxrate 25M -bufsize 50M -c:a aac -b:a 128k -shortest "$media/2160p30-hdr.tmp.mp4"
  mv "$media/2160p30-hdr.tmp.mp4" "$media/2160p30-hdr.mp4"
  rm -f "$media"/.filter-*
  touch "$stamp"
}
make_clips
make_filter_clips

# Clips for the hover preview: 1080p and 2160p, H.264 and HEVC, a key frame every 2 s
# or every 10 s, exactly (no scene-cut key frames). Ten seconds are encoded and
# copied six times over, so a minute of file with many key frames costs ten seconds
# of encoding; decoding a key frame costs the same whatever came before it.
make_preview_clips() {
  local stamp="$media/.preview-$(sed -n '/^make_preview_clips()/,/^}/p' "$0" | sha1sum | cut -c1-12)"
  [ -f "$stamp" ] && return 0
  mkdir -p "$media"
  local ff=(ffmpeg -nostdin -hide_banner -loglevel error -y)
  local size codec key name
  for size in 1920x1080 3840x2160; do
    for codec in h264 hevc; do
      for key in 2 10; do
        name="preview-${size#*x}p-$codec-g$key.mp4"
        echo "bench: making $name" >&2
        local args=(-c:v libx264 -preset veryfast -crf 23 -sc_threshold 0 -maxrate 25M -bufsize 50M)
        [ "$codec" = hevc ] && args=(-c:v libx265 -preset ultrafast -crf 26 -tag:v hvc1
                                     -x265-params log-level=error:scenecut=0 -maxrate 25M -bufsize 50M)
        "${ff[@]}" -f lavfi -i "testsrc2=size=$size:rate=30:duration=10" \
                   -f lavfi -i "sine=frequency=440:duration=10" \
                   -vf "noise=alls=6:allf=t" -g $((30 * key)) -keyint_min $((30 * key)) \
                   "${args[@]}" -pix_fmt yuv420p -c:a aac -b:a 128k -shortest "$media/segment.tmp.mp4"
        "${ff[@]}" -stream_loop 5 -i "$media/segment.tmp.mp4" -c copy "$media/$name.tmp.mp4"
        mv "$media/$name.tmp.mp4" "$media/$name"
      done
    done
  done
  rm -f "$media/segment.tmp.mp4" "$media"/.preview-*
  touch "$stamp"
}
make_preview_clips
[ "$media_only" = 1 ] && exit 0

# --- build -------------------------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
if ! grep -q '^ZELTORA_BUILD_BENCH:BOOL=ON' "$build/CMakeCache.txt"; then
  cmake -S "$root" -B "$build" -DZELTORA_BUILD_BENCH=ON >/dev/null
fi
if grep -q '^ZELTORA_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "bench: warning: $build is a sanitizer build; its figures say little" >&2
fi
cmake --build "$build" -j "$(nproc)" --target bench_player bench_filter bench_preview bench_report bench_subtitles

# --- measure -----------------------------------------------------------------------
sections=${BENCH_SECTIONS:-throughput,stages,playback,startup,filter,preview,subtitles}
if [[ ",$sections," == *,subtitles,* ]]; then
  "$build/bench/bench_subtitles" --runs "${BENCH_RUNS:-3}" --clip "$media/1080p30.mp4" \
    --seconds "${BENCH_PLAY_SECONDS:-8}"
fi
exec "$build/bench/bench_report" --media "$media" --player "$build/bench/bench_player" \
     --filter "$build/bench/bench_filter" --preview "$build/bench/bench_preview" \
     --runs "${BENCH_RUNS:-3}" --play-seconds "${BENCH_PLAY_SECONDS:-8}" \
     --sections "$sections" \
     --build-type "$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")"
