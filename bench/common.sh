# Shared start of the bench scripts (sourced): the build folder, the cached clip and a work folder.
#   bench_setup NAME TARGET...   sets ROOT, BUILD, RUNS, CLIP, WORK (removed on exit), configures
#                                $BUILD, builds the targets and makes the clip once
# Environment: RUNS (default 3), BUILD (default build-bench beside bench/).

bench_setup() {
  local name=$1
  shift
  ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  BUILD=${BUILD:-$ROOT/build-bench}
  RUNS=${RUNS:-3}
  CLIP=$ROOT/bench/cache/source-1080p30-30s.mp4
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/quorlane-$name-XXXXXX")
  trap 'rm -rf "$WORK"' EXIT

  echo "== building in $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORLANE_BENCH=ON -DBUILD_TESTING=OFF \
    >"$WORK/configure.log" 2>&1 || { cat "$WORK/configure.log"; exit 1; }
  cmake --build "$BUILD" --target "$@" >"$WORK/build.log" 2>&1 \
    || { tail -40 "$WORK/build.log"; echo "the benchmark programs do not build: $*"; exit 1; }

  if [ ! -s "$CLIP" ]; then
    echo "== generating $CLIP (once; it stays in bench/cache/)"
    mkdir -p "$(dirname "$CLIP")"
    # The clip maker picks the muxer by the name's extension.
    "$BUILD/bin/quorlane-bench-clip" "${CLIP%.mp4}.part.mp4"
    mv "${CLIP%.mp4}.part.mp4" "$CLIP"
  fi
}
