#!/usr/bin/env bash
# Converts one cached 1920x1080 30 fps H.264 + AAC clip of 30 s to FLV and to SWF at the product's default
# preset, with `quorlane-cli job` and with the bare reference loop, in alternating runs; prints wall time,
# source frames per second, peak RSS, and the job's ratio to the reference.
#   RUNS=5 bench/run.sh        more runs per case (default 3)
#   REF_THREADS=N              decoder threads of the reference (default 1, the libraries' default)
#   BUILD=dir                  build folder (default build-bench beside bench/)
set -euo pipefail

. "$(dirname "$0")/common.sh"
bench_setup bench quorlane-bench-clip quorlane-bench-reference quorlane-bench-check
REF_THREADS=${REF_THREADS:-1}
SOURCE_FRAMES=900

JOB=1
JOB_REASON=""
if ! cmake --build "$BUILD" --target quorlane-cli >"$WORK/cli.log" 2>&1; then
  JOB=0
  JOB_REASON="quorlane-cli does not build (see: cmake --build $BUILD --target quorlane-cli)"
elif ! "$BUILD/bin/quorlane-cli" --help 2>&1 | grep -q '^ *job '; then
  JOB=0
  JOB_REASON="quorlane-cli has no job command"
fi

# measure NAME FORMAT RUN command...: one timed run, a line of figures, and the figures kept for the summary.
measure() {
  local name=$1 format=$2 run=$3 out=$4
  shift 4
  rm -f "$out"
  if ! /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" >"$WORK/$name.log" 2>&1 || [ ! -s "$out" ]; then
    echo "$format $name run $run: FAILED"
    tail -5 "$WORK/$name.log" | sed 's/^/    /'
    return 1
  fi
  read -r wall rss <"$WORK/time"
  local check
  check=$("$BUILD/bin/quorlane-bench-check" "$out" 2>&1) && verdict="accepted" || verdict="REJECTED"
  awk -v f="$format" -v n="$name" -v r="$run" -v w="$wall" -v m="$rss" -v s="$SOURCE_FRAMES" -v v="$verdict" \
    'BEGIN { printf "%s %-9s run %d: %7.2f s  %6.1f fps  peak RSS %6.1f MB  output %s\n", f, n, r, w, s / w, m / 1024, v }'
  [ "$run" = 1 ] && echo "    $check"
  echo "$format $name $wall $rss" >>"$WORK/figures"
  [ "$verdict" = accepted ]
}

JOB_ARGS=(-s 320x240 -b 400000 -r 25 -vcodec flv -acodec libmp3lame -ab 64000 -ar 22050 -ac 1)
echo "== $RUNS alternating runs per case, source $SOURCE_FRAMES frames"
[ $JOB = 1 ] || echo "job command not available yet: $JOB_REASON; measuring the reference only"
for format in flv swf; do
  for run in $(seq 1 "$RUNS"); do
    measure reference $format "$run" "$WORK/ref.$format" \
      "$BUILD/bin/quorlane-bench-reference" --threads "$REF_THREADS" "$CLIP" "$WORK/ref.$format" || true
    if [ $JOB = 1 ]; then
      if ! measure job $format "$run" "$WORK/job.$format" \
        "$BUILD/bin/quorlane-cli" job -i "$CLIP" "${JOB_ARGS[@]}" "$WORK/job.$format"; then
        [ -s "$WORK/job.$format" ] || { JOB=0; echo "job command not available yet: it failed; measuring the reference only"; }
      fi
    fi
  done
done

echo "== medians"
[ -s "$WORK/figures" ] || { echo "no run succeeded"; exit 1; }
awk '
  function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
  }
  { wall[$1 " " $2] = wall[$1 " " $2] " " $3; rss[$1 " " $2] = rss[$1 " " $2] " " $4 }
  END {
    for (f = 1; f <= 2; f++) {
      format = f == 1 ? "flv" : "swf"
      rw = median(wall[format " reference"]); rm = median(rss[format " reference"])
      if (rw == "") continue
      printf "%s reference: %7.2f s  %6.1f fps  peak RSS %6.1f MB\n", format, rw, '"$SOURCE_FRAMES"' / rw, rm / 1024
      if ((format " job") in wall) {
        jw = median(wall[format " job"]); jm = median(rss[format " job"])
        printf "%s job:       %7.2f s  %6.1f fps  peak RSS %6.1f MB  time ratio %.3f (target <= 1.05: %s)  RSS %+.1f MB (target <= +20: %s)\n",
          format, jw, '"$SOURCE_FRAMES"' / jw, jm / 1024, jw / rw, jw / rw <= 1.05 ? "met" : "NOT met",
          (jm - rm) / 1024, (jm - rm) / 1024 <= 20 ? "met" : "NOT met"
      }
    }
  }' "$WORK/figures"
