#!/usr/bin/env bash
# The playback engine with real sound and a real X server: starts a private X server
# (Xvfb) and a private PulseAudio daemon with a null sink, plays generated clips in
# the real window with bench_engine, records the sink, and runs mpv on the same clips
# in the same session as the reference for CPU use.
#
#   bench/engine.sh [BUILD]      figures as a table, medians of BENCH_RUNS runs (default 3)
#
# The messages of the measured programs go to BUILD/bench-media/engine.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
media=${BENCH_MEDIA:-$build/bench-media}/engine
runs=${BENCH_RUNS:-3}
mkdir -p "$media"
log=$media/engine.log
: > "$log"

for tool in ffmpeg mpv Xvfb pulseaudio parec pactl; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
cmake --build "$build" --target bench_engine >/dev/null

# --- clips -------------------------------------------------------------------------
ff=(ffmpeg -nostdin -hide_banner -loglevel error -y)
h264=(-c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac -b:a 128k)
# A white flash on the first frame of every second from 1 s on, black between, and a
# 1 kHz beep of 40 ms at the same moments: what is seen and heard can be lined up.
flash() {
  local name=$1 rate=$2
  [ -f "$media/$name" ] && return 0
  echo "bench: making $name" >&2
  "${ff[@]}" -f lavfi -i "color=black:s=1920x1080:r=$rate:d=12,format=yuv420p,geq=lum='if(eq(mod(N\,$rate)\,0)*gt(N\,0)\,235\,16)':cb=128:cr=128" \
    -f lavfi -i "aevalsrc='if(gt(t\,0.5)*lt(mod(t\,1)\,0.04)\,0.8*sin(2*PI*1000*t)\,0)':s=48000:d=12" \
    -g $((2 * rate)) "${h264[@]}" "$media/$name"
}
# A moving test pattern with light noise and a tone, two seconds between key frames.
pattern() {
  local name=$1 size=$2 rate=$3 seconds=$4
  [ -f "$media/$name" ] && return 0
  echo "bench: making $name" >&2
  "${ff[@]}" -f lavfi -i "testsrc2=size=$size:rate=$rate:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:duration=$seconds" -vf noise=alls=6:allf=t \
    -g $((2 * rate)) "${h264[@]}" -shortest "$media/$name"
}
flash flash1080p25.mp4 25
flash flash1080p60.mp4 60
pattern 1080p30.mp4 1920x1080 30 20
pattern 1080p60.mp4 1920x1080 60 20
pattern 2160p30.mp4 3840x2160 30 20
pattern seek1080p30.mp4 1920x1080 30 60

# --- a private X server and sound server ---------------------------------------------
work=$(mktemp -d)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp >>"$log" 2>&1 &
pids+=($!)
export DISPLAY=$display
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache \
       XDG_DATA_HOME=$work/data XDG_RUNTIME_DIR=$work/runtime PULSE_RUNTIME_PATH=$work/pulse
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$PULSE_RUNTIME_PATH"
chmod 700 "$XDG_RUNTIME_DIR"
# The daemon runs ahead of everything else: starved, it drops sound that the player
# did deliver, and that would be measured as the player's fault.
nice_daemon=()
[ "$(id -u)" = 0 ] && nice_daemon=(nice -n -15)
"${nice_daemon[@]}" pulseaudio -n --daemonize=no --exit-idle-time=-1 --system=false --disallow-exit \
  --load="module-null-sink sink_name=bench rate=48000" \
  --load="module-native-protocol-unix socket=$work/native auth-anonymous=1" >>"$log" 2>&1 &
pids+=($!)
export PULSE_SERVER=unix:$work/native
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink bench
export BENCH_MONITOR=bench.monitor
export QT_QPA_PLATFORM=xcb

# --- runs -----------------------------------------------------------------------------
results=$work/results
: > "$results"
run() { # label command...
  local label=$1; shift
  local out
  out=$("$@" 2>>"$log" | grep '^RESULT ' | tail -1 || true)
  echo "$label ${out#RESULT }" >> "$results"
}
cpu_of() { # seconds label command...: CPU seconds per second of the whole process
  local seconds=$1 label=$2; shift 2
  python3 - "$seconds" "$label" "$@" >> "$results" 2>>"$log" <<'PY'
import resource, subprocess, sys, time
seconds, label, command = float(sys.argv[1]), sys.argv[2], sys.argv[3:]
started = time.monotonic()
subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
wall = time.monotonic() - started
used = resource.getrusage(resource.RUSAGE_CHILDREN)
print(f"{label} cpu_per_s={(used.ru_utime + used.ru_stime) / wall:.3f}")
PY
}

for i in $(seq "$runs"); do
  [ -n "${BENCH_CPU_ONLY:-}" ] && break
  for clip in flash1080p25.mp4 flash1080p60.mp4; do
    run "sync $clip" "$build/bench/bench_engine" play "$media/$clip" 11
  done
  for clip in 1080p30.mp4 1080p60.mp4 2160p30.mp4; do
    run "play $clip" "$build/bench/bench_engine" play "$media/$clip" 15
  done
  run "seek seek1080p30.mp4" "$build/bench/bench_engine" seek "$media/seek1080p30.mp4" 20
done
# CPU per second of playback over the whole process, ours and mpv into a window of the
# same size on the same X server, sound to the same sink.
area=$(grep '^play 1080p30.mp4' "$results" | head -1 | sed -n 's/.*video_area=\([0-9x]*\).*/\1/p') || true
area=${area:-778x418}
for i in $(seq "$runs"); do
  for clip in 1080p30.mp4 1080p60.mp4; do
    # The program itself, as a person starts it, stopped after 15 s: no measuring or
    # recording in it.
    cpu_of 15 "cpu-ours $clip" timeout -s TERM 15 "$build/zeltora" "$media/$clip"
    cpu_of 15 "cpu-mpv $clip" timeout 60 mpv --no-config --vo=x11 --hwdec=no --ao=pulse \
      --geometry="${area:-1280x720}" --length=15 --really-quiet "$media/$clip"
  done
done

python3 - "$results" "$runs" "${area:-?}" <<'EOF'
import statistics, sys, collections, os
rows = collections.OrderedDict()
for line in open(sys.argv[1]):
    parts = line.split()
    label = parts[0] + ' ' + parts[1]
    values = dict(p.split('=', 1) for p in parts[2:] if '=' in p)
    rows.setdefault(label, []).append(values)
def med(label, key):
    vals = [float(v[key]) for v in rows.get(label, []) if key in v]
    return statistics.median(vals) if vals else float('nan')
print(f"Playback engine with sound, {sys.argv[2]} runs per figure (median), load average {os.getloadavg()[0]:.2f}")
print(f"  window video area {sys.argv[3]} on Xvfb; sound to a PulseAudio null sink, recorded from its monitor")
print("1. A/V offset: flash painted minus beep recorded, ms (positive: picture after sound)")
print(f"  {'clip':<20}{'pairs':>6}{'median':>8}{'min':>8}{'max':>8}")
for clip in ('flash1080p25.mp4', 'flash1080p60.mp4'):
    l = 'sync ' + clip
    print(f"  {clip:<20}{med(l,'av_pairs'):>6.0f}{med(l,'av_offset_median_ms'):>8.1f}{med(l,'av_offset_min_ms'):>8.1f}{med(l,'av_offset_max_ms'):>8.1f}")
print("2. Real time with sound (14 s measured after the first second; 'from 4 s': once any start-up stall of the sink is over)")
keys = [('speed','speed',4),('speed_late','from 4 s',4),('shown','shown',0),('dropped','dropped',0),('gui_busy_pct','GUI busy %',1),
        ('stalls_over_16ms','stalls>16ms',0),('loop_lag_max_ms','lag max ms',1),('cpu_per_s','CPU s/s',3),
        ('rss_peak_mb','RSS MB',0),('first_frame_ms','1st frame ms',0),('first_sound_ms','1st sound ms',0)]
print('  ' + f"{'clip':<20}" + ''.join(f"{k[1]:>13}" for k in keys))
for clip in ('flash1080p25.mp4', 'flash1080p60.mp4', '1080p30.mp4', '1080p60.mp4', '2160p30.mp4'):
    l = ('sync ' if clip.startswith('flash') else 'play ') + clip
    print('  ' + f"{clip:<20}" + ''.join(f"{med(l,k[0]):>13.{k[2]}f}" for k in keys))
print("3. CPU seconds per wall second, whole process (start-up included): the zeltora program with the clip")
print("   on its command line, stopped after 15 s, and")
print("   mpv --no-config --vo=x11 --hwdec=no --ao=pulse into a window of the same size")
print(f"  {'clip':<20}{'ours':>8}{'mpv':>8}{'ours/mpv':>10}")
for clip in ('1080p30.mp4', '1080p60.mp4'):
    o, m = med('cpu-ours ' + clip, 'cpu_per_s'), med('cpu-mpv ' + clip, 'cpu_per_s')
    print(f"  {clip:<20}{o:>8.3f}{m:>8.3f}{o/m:>10.2f}")
l = 'seek seek1080p30.mp4'
print("4. Exact seek while paused, 1080p30 H.264, key frame every 2 s, 20 random targets")
print(f"  picture in: median {med(l,'seek_median_ms'):.0f} ms, p90 {med(l,'seek_p90_ms'):.0f} ms, max {med(l,'seek_max_ms'):.0f} ms, missed {med(l,'missed'):.0f}")
EOF
