#!/usr/bin/env bash
# The price of the "vfilters" path: converts the bench's 1080p clip at the product's default preset with the
# pipeline's own scaler, with an empty chain ("null": the graph scales and converts) and with a real chain
# (mirror and box), in alternating runs; prints wall time, peak RSS and each case's ratio to the own scaler
# (target for "null" at most 1.05: the graph scales with the same library and flags).
#   RUNS=5 bench/filters.sh    more runs per case (default 3)
#   BUILD=dir                  build folder (default build-bench beside bench/)
set -euo pipefail

. "$(dirname "$0")/common.sh"
bench_setup filters quorlane-cli quorlane-bench-clip quorlane-bench-check

PRESET=(-s 320x240 -b 400000 -r 25 -vcodec flv -acodec libmp3lame -ab 64000 -ar 22050 -ac 1)
CASES=(own null chain)
chain_of() {
  case $1 in
    own) ;;
    null) echo null ;;
    chain) echo "hflip,drawbox=x=10:y=10:w=50:h=50:color=red" ;;
  esac
}

echo "== $RUNS alternating runs per case"
for run in $(seq 1 "$RUNS"); do
  for name in "${CASES[@]}"; do
    out="$WORK/$name.flv"
    rm -f "$out"
    chain=$(chain_of "$name")
    args=(job -i "$CLIP")
    [ -n "$chain" ] && args+=(-vfilters "$chain")
    args+=("${PRESET[@]}" "$out")
    if ! /usr/bin/time -f "%e %M" -o "$WORK/time" "$BUILD/bin/quorlane-cli" "${args[@]}" >"$WORK/$name.log" 2>&1; then
      echo "$name run $run: FAILED"
      tail -5 "$WORK/$name.log" | sed 's/^/    /'
      continue
    fi
    read -r wall rss <"$WORK/time"
    "$BUILD/bin/quorlane-bench-check" "$out" >/dev/null 2>&1 && verdict=accepted || verdict=REJECTED
    awk -v n="$name" -v r="$run" -v w="$wall" -v m="$rss" -v v="$verdict" \
      'BEGIN { printf "%-6s run %d: %7.2f s  peak RSS %6.1f MB  output %s\n", n, r, w, m / 1024, v }'
    echo "$name $wall $rss" >>"$WORK/figures"
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
  { wall[$1] = wall[$1] " " $2; rss[$1] = rss[$1] " " $3 }
  END {
    ow = median(wall["own"]); om = median(rss["own"])
    split("own null chain", names, " ")
    for (k = 1; k <= 3; k++) {
      n = names[k]
      if (!(n in wall)) continue
      w = median(wall[n]); m = median(rss[n])
      printf "%-6s %7.2f s  peak RSS %6.1f MB", n, w, m / 1024
      if (n != "own" && ow != "") printf "  time ratio %.3f  RSS %+.1f MB", w / ow, (m - om) / 1024
      printf "\n"
    }
  }' "$WORK/figures"
