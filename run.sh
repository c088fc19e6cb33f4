#!/usr/bin/env bash
# One entry point for set-up, build, demo, tests, benchmarks and fuzzing.
#
#   ./run.sh demo              install what is missing, build, run the main job
#   ./run.sh launcher [options]
#                              the launcher window against the demo's sample game, published
#                              and served on 127.0.0.1 (`morvaniel demo --keep`, `morvaniel
#                              serve`); installs into a temporary folder. Options go to
#                              morvaniel-launcher (--help lists them)
#   ./run.sh test              install what is missing, build, run the test suite
#   ./run.sh test --sanitize   the same under AddressSanitizer + UBSan (build-asan/)
#   ./run.sh test --tsan       the threaded tests under ThreadSanitizer (build-tsan/)
#   ./run.sh test --long       the suite including the long tests (label "long")
#   ./run.sh test --unprivileged
#                              build as root, then run the suite as user "nobody": what
#                              needs root skips (named at the end), the rest must pass
#   ./run.sh test --windows    cross-compile everything for Windows (build-win/, mingw-w64
#                              against ../shared/qt5-mingw or $MORVANIEL_QT_WIN) and run
#                              the suite under Wine
#   ./run.sh bench [--quick] [--long] [--only bench_x] [--log f]
#                              Release build (build-bench/), every benchmark of
#                              bench/, one table of figures against their peers;
#                              --long adds the 2.4 GiB patch pair and the
#                              link benchmark's 10 GiB game
#   ./run.sh fuzz [seconds]    build the libFuzzer targets (build-fuzz/) and run each
#                              for the given time (default 60) with its seed corpus
#   ./run.sh package --windows the Windows build packaged into dist/morvaniel-windows
#                              (and dist/morvaniel-windows.zip)
#   ./run.sh build             install and build only
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

PACKAGES=(build-essential cmake ninja-build pkg-config qtbase5-dev libqt5test5 zlib1g-dev
          libzstd-dev libsodium-dev zstd p7zip-full xdelta3 curl aria2 nginx-light e2fsprogs
          g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 clang libclang-rt-14-dev)

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "run.sh: installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build() {
  local dir=$1; shift
  cmake -S "$ROOT" -B "$ROOT/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$ROOT/$dir" -j "$(nproc)"
}

# The Windows build in build-win/, cross-compiled against a Qt for Windows.
build_windows() {
  qt_win=$(realpath -m "${MORVANIEL_QT_WIN:-$ROOT/../shared/qt5-mingw}")
  deps_win=$(realpath -m "${MORVANIEL_WIN_DEPS:-$ROOT/../shared/win-deps}")
  if [ ! -f "$qt_win/lib/cmake/Qt5/Qt5Config.cmake" ] || [ ! -f "$deps_win/lib/libzstd.a" ]; then
    echo "run.sh: no Qt for Windows at $qt_win (or no Windows dependencies at $deps_win)." >&2
    echo "  Build them from Debian's sources with tools/windows/build-deps.sh (about an hour)," >&2
    echo "  or name existing ones with MORVANIEL_QT_WIN and MORVANIEL_WIN_DEPS." >&2
    exit 2
  fi
  build build-win -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DMORVANIEL_BUILD_BENCH=OFF \
    -DMORVANIEL_QT_WIN="$qt_win" -DMORVANIEL_WIN_DEPS="$deps_win"
}

# Every skip passes in CTest's eyes; name the skipped test functions (with
# their data row and reason) from the log of the run in the given build folder.
report_skips() {
  local log=$ROOT/$1/Testing/Temporary/LastTest.log skips=""
  [ -f "$log" ] && skips=$(tr -d '\r' <"$log" | sed -n 's/^SKIP   : //p')
  echo "run.sh: skipped test functions: $(printf '%s' "$skips" | grep -c .)"
  [ -z "$skips" ] || printf '%s\n' "$skips" | sed 's/^/  /'
}

# ctest in a build folder, then the skips; the exit status is ctest's.
run_ctest() {
  local dir=$1 status=0
  shift
  (cd "$ROOT/$dir" && "$@") || status=$?
  report_skips "$dir"
  return $status
}

# The suite as user nobody. The tests write beside their programs (config.ini,
# stand-in tools, the package check's install manifest), so the build folder
# belongs to nobody for the run, with a home and temporary folder of its own.
run_unprivileged() {
  local name=$1 dir=$ROOT/$1 owner home status=0
  shift
  if [ "$(id -u)" -ne 0 ]; then
    echo "run.sh: --unprivileged switches to user nobody, which needs root" >&2
    exit 2
  fi
  if ! setpriv --reuid=nobody --regid=nogroup --clear-groups test -r "$ROOT/CMakeLists.txt" -a -x "$dir"; then
    echo "run.sh: user nobody cannot read $ROOT; check out the tree where every user can read it" >&2
    exit 2
  fi
  owner=$(stat -c %u:%g "$dir")
  home=$(mktemp -d)
  trap 'chown -R "$owner" "$dir"; rm -rf "$home"' EXIT
  chown nobody:nogroup "$home"
  chown -R nobody:nogroup "$dir"
  run_ctest "$name" setpriv --reuid=nobody --regid=nogroup --clear-groups \
    env HOME="$home" TMPDIR="$home" "$@" || status=$?
  chown -R "$owner" "$dir"
  rm -rf "$home"
  trap - EXIT
  return $status
}

cmd=${1:-test}
shift || true
case "$cmd" in
  build)
    install_packages
    build build
    ;;
  demo)
    install_packages
    build build
    exec "$ROOT/build/bin/morvaniel" demo "$@"
    ;;
  launcher)
    install_packages
    build build
    work=$(mktemp -d)
    serve_pid=""
    trap '[ -n "$serve_pid" ] && kill "$serve_pid" 2>/dev/null; rm -rf "$work"' EXIT
    echo "run.sh: publishing the sample game (morvaniel demo --keep)"
    "$ROOT/build/bin/morvaniel" demo --keep >"$work/demo.log" || { cat "$work/demo.log" >&2; exit 1; }
    kept=$(sed -n 's/^kept //p' "$work/demo.log")
    mv "$kept/www" "$work/www" && rm -rf "$kept"
    "$ROOT/build/bin/morvaniel" serve --root "$work/www" --port 0 >"$work/serve.log" &
    serve_pid=$!
    url=""
    for _ in $(seq 50); do
      url=$(sed -n 's/^serving .* at \(http:[^ ]*\)$/\1/p' "$work/serve.log")
      [ -n "$url" ] && break
      sleep 0.1
    done
    [ -n "$url" ] || { echo "run.sh: morvaniel serve did not start" >&2; exit 1; }
    echo "run.sh: serving the sample game at $url; installing into $work/install"
    "$ROOT/build/bin/morvaniel-launcher" --server "$url" --dir "$work/install" --launcher-dir "$work/launcher" "$@"
    ;;
  test)
    install_packages
    mode=default
    for a in "$@"; do
      case "$a" in
        --sanitize) mode=asan ;;
        --tsan) mode=tsan ;;
        --long) mode=long ;;
        --windows) mode=windows ;;
        --unprivileged) mode=unprivileged ;;
        *) echo "run.sh: unknown option $a" >&2; exit 2 ;;
      esac
    done
    case "$mode" in
      asan)
        build build-asan -DMORVANIEL_SANITIZE=ON -DMORVANIEL_BUILD_BENCH=OFF
        export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
        run_ctest build-asan ctest --output-on-failure -LE long -j 2 ;;
      tsan)
        build build-tsan -DMORVANIEL_TSAN=ON -DMORVANIEL_BUILD_BENCH=OFF
        run_ctest build-tsan ctest --output-on-failure -L threaded -j 1 ;;
      long)
        build build
        run_ctest build ctest --output-on-failure -j 2 ;;
      windows)
        build_windows
        run_ctest build-win ctest --output-on-failure -LE long -j 2 ;;
      unprivileged)
        build build
        run_unprivileged build ctest --output-on-failure -LE long -j 2 ;;
      *)
        build build
        run_ctest build ctest --output-on-failure -LE long -j 2 ;;
    esac
    ;;
  package)
    [ "${1:-}" = --windows ] || { echo "run.sh: package takes --windows" >&2; exit 2; }
    install_packages
    build_windows
    exec "$ROOT/tools/windows/package.sh" "$ROOT/build-win" "$qt_win" "$ROOT/dist"
    ;;
  bench)
    # bsdiff is one of the patch benchmark's peers; the link benchmark shapes
    # its links with tc and ip.
    PACKAGES+=(bsdiff iproute2)
    install_packages
    # A Release build of its own, so that the test build keeps its settings.
    build build-bench -DCMAKE_BUILD_TYPE=Release -DMORVANIEL_BUILD_TESTS=OFF
    exec "$ROOT/bench/report.sh" "$ROOT/build-bench/bin" "$@"
    ;;
  fuzz)
    install_packages
    seconds=${1:-60}
    case "$seconds" in ''|*[!0-9]*) echo "run.sh: fuzz takes a number of seconds" >&2; exit 2 ;; esac
    # The library is compiled for coverage only; the targets link libFuzzer itself.
    CC=clang CXX=clang++ cmake -S "$ROOT" -B "$ROOT/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DMORVANIEL_FUZZ=ON -DMORVANIEL_BUILD_BENCH=OFF \
      "-DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=vptr -fno-omit-frame-pointer" \
      >/dev/null
    cmake --build "$ROOT/build-fuzz" -j "$(nproc)" --target fuzzers
    # Allocation stacks and a large quarantine cost the planners' targets half their speed;
    # replay a crash with plain ASAN_OPTIONS for the full report.
    export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:malloc_context_size=0:quarantine_size_mb=32
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    status=0
    for f in "$ROOT"/build-fuzz/fuzz/bin/fuzz_*; do
      [ -x "$f" ] || continue
      t=$(basename "$f"); t=${t#fuzz_}
      # New inputs go to the work folder; the seeds in the tree stay as committed.
      work="$ROOT/build-fuzz/fuzz/work/$t"; crashes="$ROOT/build-fuzz/fuzz/crashes/$t"
      mkdir -p "$work" "$crashes"
      seeds=()
      for d in "$ROOT/fuzz/corpus/$t" "$ROOT/fuzz/regressions/$t"; do [ -d "$d" ] && seeds+=("$d"); done
      echo "run.sh: fuzzing $t for ${seconds}s"
      "$f" -max_total_time="$seconds" -max_len=2048 -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/" "$work" "${seeds[@]}" \
        2>"$ROOT/build-fuzz/fuzz/$t.log" || { status=1; echo "run.sh: $t found a fault, see $crashes and build-fuzz/fuzz/$t.log" >&2; }
      grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)|cov: ' "$ROOT/build-fuzz/fuzz/$t.log" | tail -4
    done
    exit $status
    ;;
  *)
    echo "usage: ./run.sh demo|launcher|test [--sanitize|--tsan|--long|--windows|--unprivileged]|package --windows|bench [--quick] [--long]|fuzz [seconds]|build" >&2
    exit 2
    ;;
esac
