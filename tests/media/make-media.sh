#!/usr/bin/env bash
# Generates the small media files the tests play, probe and break.
# Usage: make-media.sh OUTDIR. Runs once per build tree; a stamp marks a complete set.
set -euo pipefail

out=$(realpath -m "${1:?usage: make-media.sh OUTDIR}")
stamp="$out/.complete-$(sha1sum "$0" | cut -c1-12)"
[ -f "$stamp" ] && exit 0
mkdir -p "$out"
cd "$out"

ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
x264=(-c:v libx264 -preset veryfast -pix_fmt yuv420p)

# A few seconds of small video with audio.
ff -f lavfi -i testsrc2=size=320x240:rate=25:duration=3 -f lavfi -i sine=frequency=440:duration=3 \
   "${x264[@]}" -g 25 -c:a aac -shortest clip.mp4

# Four solid colour bars (red, green, blue, white), 1 s; pixels a test can check.
ff -f lavfi -i "color=c=red:s=80x240:r=25:d=1[a];color=c=lime:s=80x240:r=25:d=1[b];color=c=blue:s=80x240:r=25:d=1[c];color=c=white:s=80x240:r=25:d=1[d];[a][b][c][d]hstack=inputs=4" \
   -c:v libx264 -preset veryfast -pix_fmt yuv444p -qp 0 bars.mp4

# One red frame.
ff -f lavfi -i color=c=red:s=64x48:r=25:d=0.04 -frames:v 1 "${x264[@]}" red.mp4

# Audio only, in several containers.
ff -f lavfi -i sine=frequency=440:duration=2 -c:a libmp3lame audio.mp3
ff -f lavfi -i sine=frequency=440:duration=2 audio.wav
ff -f lavfi -i sine=frequency=440:duration=2 -c:a flac audio.flac
ff -f lavfi -i sine=frequency=440:duration=2 -c:a aac audio-only.m4a

# Video that starts a second after the audio: the first packets in the file are all audio.
ff -f lavfi -i sine=frequency=440:duration=3 -itsoffset 1 -f lavfi -i testsrc2=size=160x120:rate=25:duration=2 \
   -map 0:a -map 1:v "${x264[@]}" -c:a aac audio-first.mkv

# Pacing clips: common frame rates and a variable frame rate.
for clip in "25:fps25" "60:fps60" "30:fps30" "24000/1001:fps23976" "30000/1001:fps2997" "50:fps50"; do
  rate=${clip%%:*}; name=${clip##*:}
  ff -f lavfi -i "testsrc2=size=160x120:rate=$rate:duration=4" "${x264[@]}" "$name.mp4"
done
# Variable frame rate: 1 s at 25 fps, then 1 s at 50 fps, then 1 s at 10 fps.
ff -f lavfi -i "testsrc2=size=160x120:rate=50:duration=3" \
   -vf "select='lt(t,1)*not(mod(n,2))+between(t,1,2)+gte(t,2)*not(mod(n,5))',setpts=PTS-STARTPTS" \
   -fps_mode vfr "${x264[@]}" vfr.mkv

# A raw elementary stream: no container duration.
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=2 "${x264[@]}" -f h264 noduration.h264

# Frame size changes in mid-stream (two elementary streams back to back).
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=1 "${x264[@]}" -f h264 part-a.h264
ff -f lavfi -i testsrc2=size=98x66:rate=25:duration=1 "${x264[@]}" -f h264 part-b.h264
cat part-a.h264 part-b.h264 > sizechange.h264
rm -f part-a.h264 part-b.h264

# Odd and tiny frame sizes, losslessly coded so any size is allowed.
for size in 1x1 2x2 15x17 321x241 854x480 33x7; do
  w=${size%x*}; h=${size#*x}
  ff -f lavfi -i "testsrc2=size=320x240:r=25:d=0.2" -vf "scale=$w:$h,format=yuv420p" -c:v ffv1 "odd-$size.mkv" 2>/dev/null ||
  ff -f lavfi -i "testsrc2=size=320x240:r=25:d=0.2" -vf "scale=$w:$h,format=yuv444p" -c:v ffv1 "odd-$size.mkv"
done

# Shapes for the thumbnail crop.
ff -f lavfi -i "color=c=blue:s=1280x720:r=25:d=0.2,drawbox=x=560:y=0:w=160:h=720:color=red:t=fill" "${x264[@]}" wide.mp4
ff -f lavfi -i "color=c=blue:s=240x320:r=25:d=0.2,drawbox=x=0:y=120:w=240:h=80:color=red:t=fill" "${x264[@]}" portrait.mp4
ff -f lavfi -i "testsrc2=size=1280x200:rate=25:duration=0.2" "${x264[@]}" banner.mp4
ff -f lavfi -i "color=c=green:s=20x16:r=25:d=0.2" -c:v ffv1 tiny.mkv

# Main window: colour bars long enough to be looked at while playing.
ff -f lavfi -i "color=c=red:s=80x240:r=25:d=6[a];color=c=lime:s=80x240:r=25:d=6[b];color=c=blue:s=80x240:r=25:d=6[c];color=c=white:s=80x240:r=25:d=6[d];[a][b][c][d]hstack=inputs=4" \
   "${x264[@]}" bars-long.mp4

# Things that are not media.
echo "this is not a video" > not-media.mp4
head -c 65536 /dev/urandom > random.mkv
: > empty.mp4

# --- Playlist thumbnails -----------------------------------------------------
# 600 undecodable pictures (slices whose parameter sets were stripped), then five good
# red ones: a probe that read on without limit would find the red picture.
ff -f lavfi -i testsrc2=size=64x48:rate=25:duration=24 "${x264[@]}" \
   -bsf:v "filter_units=remove_types=5|7|8" -f h264 broken-part.h264
ff -f lavfi -i color=c=red:s=64x48:rate=25:duration=0.2 "${x264[@]}" -f h264 good-part.h264
cat broken-part.h264 good-part.h264 > late-picture.h264
rm -f broken-part.h264 good-part.h264

# --- Decoder -------------------------------------------------------------------
# The pixel format changes in mid-stream (4:2:0, then 4:4:4) at one frame size.
ff -f lavfi -i testsrc2=size=96x64:rate=25:duration=1 "${x264[@]}" -f h264 fmt-a.h264
ff -f lavfi -i testsrc2=size=96x64:rate=25:duration=1 -c:v libx264 -preset veryfast -pix_fmt yuv444p -f h264 fmt-b.h264
cat fmt-a.h264 fmt-b.h264 > fmtchange.h264
rm -f fmt-a.h264 fmt-b.h264
# The frame size grows in mid-stream (the reverse of sizechange.h264).
ff -f lavfi -i testsrc2=size=98x66:rate=25:duration=1 "${x264[@]}" -f h264 grow-a.h264
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=1 "${x264[@]}" -f h264 grow-b.h264
cat grow-a.h264 grow-b.h264 > sizegrow.h264
rm -f grow-a.h264 grow-b.h264
# A transport stream cut after two packets: it opens, but holds no stream to find.
ff -f lavfi -i testsrc2=size=64x48:rate=25:duration=1 "${x264[@]}" -f mpegts full.ts
head -c 376 full.ts > nostreams.ts
rm -f full.ts
# A local HLS playlist: nested opens of local segments must keep working.
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=2 "${x264[@]}" -g 25 \
   -f hls -hls_time 1 -hls_list_size 0 -hls_segment_filename 'hls-part%d.ts' hls.m3u8

# --- Position previews ---------------------------------------------------------
# A key frame every second exactly, B-frames, and pixels a third wider than tall
# (320x240 shown as 16:9); once in MP4 (an index read at open) and once as a
# transport stream (none).
ff -f lavfi -i "testsrc2=size=320x240:rate=25:duration=4,setsar=4/3" "${x264[@]}" \
   -g 25 -keyint_min 25 -sc_threshold 0 preview.mp4
ff -i preview.mp4 -c copy -f mpegts preview.ts

# --- Resume -------------------------------------------------------------------------
# Longer than five minutes, yet tiny and quick to make: one small frame a second, each
# a key frame, so that any seek to a whole second lands exactly there.
ff -f lavfi -i testsrc2=s=32x32:r=1:d=320 "${x264[@]}" -g 1 long.mp4

touch "$stamp"
