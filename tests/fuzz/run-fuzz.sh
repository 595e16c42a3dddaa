#!/usr/bin/env bash
# Runs the media fuzz target for a while, seeded with the generated test media.
# Usage: run-fuzz.sh FUZZ_BINARY WORKDIR SECONDS SEED_DIR...
# Every input that crashes, hangs or exhausts memory is copied to
# tests/fuzz/regressions/ (replayed by the ordinary test run) and fails the run.
set -euo pipefail

binary=$(realpath "${1:?usage: run-fuzz.sh FUZZ_BINARY WORKDIR SECONDS SEED_DIR...}")
work=$(realpath -m "${2:?}")
seconds=${3:?}
shift 3
here=$(cd "$(dirname "$0")" && pwd)
regressions="$here/regressions"

mkdir -p "$work/corpus" "$work/seeds" "$work/artifacts"
rm -f "$work/artifacts"/*
# Small files only: every input is written, opened and decoded whole, and the
# mutator works best on short inputs.
for dir in "$@"; do
  find "$dir" -maxdepth 1 -type f -readable -size -64k -size +0 -exec cp -f {} "$work/seeds/" \; 2>/dev/null || true
done

# One worker process: the machine's other core builds and tests. Crashes, timeouts and
# out-of-memory inputs are collected rather than ending the run at the first one.
cd "$work"
status=0
"$binary" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
  -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len=65536 \
  -artifact_prefix="$work/artifacts/" -print_final_stats=1 \
  "$work/corpus" "$work/seeds" > "$work/fuzz.log" 2>&1 || status=$?
tail -n 15 "$work/fuzz.log"

found=0
for artifact in "$work"/artifacts/*; do
  [ -f "$artifact" ] || continue
  found=$((found + 1))
  cp -f "$artifact" "$regressions/"
  echo "run-fuzz: kept $(basename "$artifact") in tests/fuzz/regressions/"
done
if [ "$found" -gt 0 ] || [ "$status" -ne 0 ]; then
  echo "run-fuzz: $found faulty input(s), fuzzer exit status $status; see $work/fuzz.log" >&2
  exit 1
fi
echo "run-fuzz: no faults in ${seconds}s"
