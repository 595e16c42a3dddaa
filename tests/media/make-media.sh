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

# --- Playback engine ----------------------------------------------------------
# A white flash and a 1 kHz beep at every whole second (from 1 s on), black and silent
# in between: what is seen and heard can be lined up. PCM sound has no encoder delay.
ff -f lavfi -i "color=black:s=160x120:r=25:d=6,format=yuv420p,geq=lum='if(eq(mod(N\,25)\,0)*gt(N\,0)\,235\,16)':cb=128:cr=128" \
   -f lavfi -i "aevalsrc='if(gt(t\,0.5)*lt(mod(t\,1)\,0.04)\,0.8*sin(2*PI*1000*t)\,0)':s=48000:d=6" \
   "${x264[@]}" -g 25 -c:a pcm_s16le avsync.mkv
# The frame number written in the picture as ten bars, one per bit (white: set), two
# seconds between key frames; the same in a transport stream and as a raw stream.
framebits="geq=lum='if(bitand(N\,pow(2\,floor(X/16)))\,235\,16)':cb=128:cr=128"
ff -f lavfi -i "color=black:s=160x32:r=25:d=10,format=yuv420p,$framebits" "${x264[@]}" -g 50 framenumbers.mp4
ff -i framenumbers.mp4 -c copy -f mpegts framenumbers.ts
ff -i framenumbers.mp4 -c copy -bsf:v h264_mp4toannexb -f h264 framenumbers.h264
# A steady tone, to hear whether anything is lost or repeated.
ff -f lavfi -i "sine=frequency=437:sample_rate=48000:duration=6" -c:a pcm_s16le tone.wav
# The sound changes its rate and channel layout in mid-stream.
ff -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=1.5" -ac 2 -c:a aac -f adts rate-a.aac
ff -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=1.5" -ac 1 -c:a aac -f adts rate-b.aac
cat rate-a.aac rate-b.aac > ratechange.aac
rm -f rate-a.aac rate-b.aac
# Timestamps that start over in mid-file: two transport streams back to back.
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i sine=frequency=440:duration=2 \
   "${x264[@]}" -g 25 -c:a aac -f mpegts jump-part.ts
cat jump-part.ts jump-part.ts > tsjump.ts
rm -f jump-part.ts
# One stream longer than the other, both ways.
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=1 -f lavfi -i sine=frequency=440:duration=2 \
   "${x264[@]}" -c:a pcm_s16le audiolonger.mkv
ff -f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i sine=frequency=440:duration=1 \
   "${x264[@]}" -c:a pcm_s16le videolonger.mkv

# --- Desktop integration -------------------------------------------------------
# Tags in the container (ID3) with a blue cover picture, and tags on the stream (Ogg).
ff -f lavfi -i sine=frequency=440:duration=4 -f lavfi -i color=c=blue:s=64x64:d=0.04 \
   -map 0:a -map 1:v -frames:v 1 -c:a libmp3lame -c:v png -disposition:v attached_pic \
   -metadata title="海边的歌" -metadata artist="Zeltora Band" -metadata album="测试专辑" tagged-cover.mp3
ff -f lavfi -i sine=frequency=440:duration=1 -c:a libopus \
   -metadata title="Stream Title" -metadata artist="Stream Artist" tagged.opus

# --- Subtitles -----------------------------------------------------------------
# Two lines, 1.0-2.0 s and 3.0-4.5 s, with Chinese, Japanese and Korean text.
cat > subs-source.srt <<'SRT'
1
00:00:01,000 --> 00:00:02,000
中文字幕 First line

2
00:00:03,000 --> 00:00:04,500
日本語 한국어 Second line
SRT
cat > subs-source.ass <<'ASS'
[Script Info]
ScriptType: v4.00+
PlayResX: 320
PlayResY: 240

[V4+ Styles]
Format: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding
Style: Sign,DejaVu Sans,24,&H0000FFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,0,0,1,2,0,2,10,10,10,1

[Events]
Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text
Dialogue: 0,0:00:01.00,0:00:02.00,Sign,,0,0,0,,中文字幕 First line
Dialogue: 0,0:00:03.00,0:00:04.50,Sign,,0,0,0,,{\pos(160,120)}日本語 한국어 Second line
ASS
video=(-f lavfi -i "color=c=black:s=320x240:r=25:d=5")
ff "${video[@]}" -i subs-source.srt -map 0 -map 1 "${x264[@]}" -c:s srt -metadata:s:s:0 language=chi subs-srt.mkv
ff "${video[@]}" -i subs-source.ass -map 0 -map 1 "${x264[@]}" -c:s ass subs-ass.mkv
ff "${video[@]}" -i subs-source.srt -map 0 -map 1 "${x264[@]}" -c:s webvtt subs-webvtt.mkv
ff "${video[@]}" -i subs-source.srt -map 0 -map 1 "${x264[@]}" -c:s mov_text subs-movtext.mp4
# FFmpeg cannot turn text into picture subtitles (DVD, DVB) or write Blu-ray ones at
# all; the tests encode a DVD subtitle picture themselves.

# Files beside a video, in the encodings Chinese subtitle files come in.
mkdir -p beside
ff -f lavfi -i color=c=black:s=64x48:r=25:d=0.2 "${x264[@]}" beside/film.mkv
cp subs-source.srt beside/film.srt
iconv -f UTF-8 -t GB18030 subs-source.srt > beside/film.chs.srt
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE subs-source.srt; } > beside/film.utf16.srt
cp subs-source.ass beside/Film.EN.ASS
head -c 3000 /dev/zero | tr '\0' '\377' > beside/film.broken.srt
: > beside/filmmaker.srt

# Two sound tracks in two tones and languages (440 Hz English, 1000 Hz Chinese) and two
# subtitle tracks (Chinese, the file's default, and English, whose line differs).
cat > subs-english.srt <<'SRT'
1
00:00:01,000 --> 00:00:02,000
WWWWWWWW MMMMMMMM

SRT
ff "${video[@]}" -f lavfi -i sine=frequency=440:duration=5 -f lavfi -i sine=frequency=1000:duration=5 \
   -i subs-source.srt -i subs-english.srt -map 0:v -map 1:a -map 2:a -map 3 -map 4 \
   "${x264[@]}" -c:a aac -c:s srt \
   -metadata:s:a:0 language=eng -metadata:s:a:1 language=chi -metadata:s:a:1 title="国语" \
   -metadata:s:s:0 language=chi -metadata:s:s:0 title="简体中文" -metadata:s:s:1 language=eng \
   -disposition:a:0 default -disposition:a:1 0 -disposition:s:0 default -disposition:s:1 0 tracks.mkv
# A video long enough for the lines, with the same lines beside it in GB18030 and UTF-8.
mkdir -p beside-long
ff "${video[@]}" "${x264[@]}" beside-long/movie.mkv
iconv -f UTF-8 -t GB18030 subs-source.srt > beside-long/movie.chs.srt
cp subs-source.srt beside-long/movie.utf8.srt

# --- Picture geometry and filters ---------------------------------------------------
# Markers tell up from down and left from right: red top left, lime top right, on blue.
marked() { echo "color=c=blue:s=$1x$2:r=25:d=0.2,drawbox=x=0:y=0:w=$(($1/4)):h=$(($2/4)):color=red:t=fill,drawbox=x=$(($1*3/4)):y=0:w=$(($1/4)):h=$(($2/4)):color=lime:t=fill"; }
ff -f lavfi -i "$(marked 96 64)" "${x264[@]}" -movflags +faststart upright.mp4
# ffmpeg's rotate tag counts counter-clockwise: 270 shows the picture turned clockwise.
ff -i upright.mp4 -c copy -metadata:s:v rotate=270 turned-90.mp4
ff -i upright.mp4 -c copy -metadata:s:v rotate=90 turned-270.mp4
# The track header's matrix written directly (x' = a x + c y + tx, y' = b x + d y + ty).
set_matrix() {
  python3 - "$@" <<'PY'
import struct, sys
path, a, b, c, d, tx, ty = sys.argv[1], *(round(float(v) * 65536) for v in sys.argv[2:])
data = bytearray(open(path, 'rb').read())
at = data.find(b'tkhd')  # the only track; the header precedes the media data (faststart)
version = data[at + 4]
struct.pack_into('>9i', data, at + 8 + (32 if version == 1 else 20) + 16, a, b, 0, c, d, 0, tx, ty, 1 << 30)
open(path, 'wb').write(data)
PY
}
cp upright.mp4 mirrored.mp4 && set_matrix mirrored.mp4 -1 0 0 1 96 0
cp upright.mp4 transposed.mp4 && set_matrix transposed.mp4 0 1 1 0 0 0
# 720x576 with non-square pixels: 4:3 and 16:9 in the stream, 16:9 only in the container.
ff -f lavfi -i "$(marked 720 576)" -vf setsar=16/15 "${x264[@]}" sar-4x3.mp4
ff -f lavfi -i "$(marked 720 576)" -vf setsar=64/45 "${x264[@]}" sar-16x9.mp4
ff -i sar-16x9.mp4 -c copy -metadata:s:v rotate=270 sar-16x9-turned.mp4
ff -f lavfi -i "$(marked 720 576)" -vf setsar=0 "${x264[@]}" sar-none.mp4
ff -i sar-none.mp4 -c copy -aspect 16:9 sar-container.mp4
rm -f sar-none.mp4
# Interlaced, top field first: a white bar on black moving 6 pixels per field, so every
# unfiltered frame combs at its edges.
fields() { echo "color=c=black:s=$1:r=50:d=$2[bg];color=c=white:s=24x96:r=50:d=$2[fg];[bg][fg]overlay=x='mod(n*6,136)':y=0"; }
interlace=(-vf "tinterlace=mode=interleave_top,setfield=tff" -c:v libx264 -preset veryfast -pix_fmt yuv420p -qp 0 -flags +ildct+ilme)
ff -f lavfi -i "$(fields 160x96 1)" "${interlace[@]}" interlaced.mp4
ff -f lavfi -i "$(fields 160x96 0.4)" "${interlace[@]}" -f h264 inter-a.h264
ff -f lavfi -i "$(fields 128x80 0.4)" "${interlace[@]}" -f h264 inter-b.h264
cat inter-a.h264 inter-b.h264 > interlaced-sizechange.h264
rm -f inter-a.h264 inter-b.h264
# HDR, 10 bits: left half mid-grey (BT.2408: 26 nits, 38 % signal in PQ and in HLG),
# right half reference white (203 nits: 58 % in PQ, 75 % in HLG), limited range.
for clip in "pq:smpte2084:573" "hlg:arib-std-b67:721"; do
  IFS=: read -r name transfer white <<<"$clip"
  ff -f lavfi -i "nullsrc=s=128x64:r=25:d=0.2" -vf "format=yuv420p10le,geq=lum='if(lt(X,64),397,$white)':cb=512:cr=512" \
     -color_primaries bt2020 -color_trc "$transfer" -colorspace bt2020nc -color_range tv -c:v ffv1 "hdr-$name.mkv"
done

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
