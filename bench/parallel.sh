#!/usr/bin/env bash
# Converts the bench's 1080p clip as four inputs with `quorlane-cli convert --jobs 1` and `--jobs 2`, in
# alternating runs, and prints the wall times and the ratio of the medians (--jobs 2 over --jobs 1; on two
# cores the target is at most 0.6).
#   RUNS=5 bench/parallel.sh   more runs per case (default 3)
#   BUILD=dir                  build folder (default build-bench beside bench/)
set -euo pipefail

. "$(dirname "$0")/common.sh"
bench_setup parallel quorlane-cli quorlane-bench-clip

mkdir -p "$WORK/in"
INPUTS=()
for i in 1 2 3 4; do
  ln -s "$CLIP" "$WORK/in/clip$i.mp4"
  INPUTS+=("$WORK/in/clip$i.mp4")
done

# run JOBS: one timed conversion of the four inputs; prints the wall seconds.
run() {
  local jobs=$1 out=$WORK/out-$1
  rm -rf "$out"
  mkdir -p "$out"
  local start end
  start=$(date +%s.%N)
  if ! "$BUILD/bin/quorlane-cli" convert --jobs "$jobs" --out "$out" --ext flv \
      --set VideoCodec=flv --set AudioCodec=libmp3lame --set FrameSize=320x240 --set VideoBitrate=400000 \
      --set FrameRate=25 --set AudioBitrate=64000 --set AudioSampleRate=22050 --set AudioChannels=1 \
      "${INPUTS[@]}" >"$WORK/convert-$jobs.log" 2>&1; then
    echo "--jobs $jobs FAILED" >&2
    tail -8 "$WORK/convert-$jobs.log" | sed 's/^/    /' >&2
    return 1
  fi
  end=$(date +%s.%N)
  local made
  made=$(find "$out" -name '*.flv' -size +0 | wc -l)
  if [ "$made" -ne 4 ]; then
    echo "--jobs $jobs wrote $made of 4 outputs" >&2
    return 1
  fi
  echo "$end - $start" | bc
}

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

echo "== $(nproc) cores, $RUNS alternating runs per case, 4 inputs of $(basename "$CLIP")"
: >"$WORK/t1"
: >"$WORK/t2"
for r in $(seq 1 "$RUNS"); do
  for jobs in 1 2; do
    t=$(run "$jobs")
    printf -- "--jobs %d run %d: %.1f s\n" "$jobs" "$r" "$t"
    echo "$t" >>"$WORK/t$jobs"
  done
done

m1=$(median <"$WORK/t1")
m2=$(median <"$WORK/t2")
printf "median --jobs 1: %.1f s\nmedian --jobs 2: %.1f s\nratio (jobs 2 / jobs 1): %.2f (target at most 0.60 on 2 cores)\n" \
  "$m1" "$m2" "$(echo "$m2 / $m1" | bc -l)"
