#!/usr/bin/env bash
# One entry point for set-up, build, demo, tests, benchmarks and fuzzing. The
# build flavours and test selections are the presets of CMakePresets.json
# (default, asan, tsan, windows, bench, fuzz; `cmake --workflow --preset
# default` builds and tests without this script); what a preset cannot do is
# here: installing packages, the unprivileged run, the launcher demo, the fuzz
# loop.
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
          g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 clang clang-format libclang-rt-14-dev
          rclone)

# Installs what is missing of the given packages, or of PACKAGES.
install_packages() {
  local missing=() wanted=("$@")
  [ $# -gt 0 ] || wanted=("${PACKAGES[@]}")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "run.sh: installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The local S3-compatible server of the publisher's upload test, from the npm
# registry, into build-tools/ (ignored by git). The test skips, naming the
# reason, when this fails.
S3RVER_VERSION=3.7.1
install_s3rver() {
  local dir=$ROOT/build-tools/s3rver
  [ -x "$dir/node_modules/.bin/s3rver" ] && return 0
  # A machine with its own Node.js keeps it; Debian's npm would replace it.
  command -v npm >/dev/null || install_packages nodejs npm || true
  echo "run.sh: installing s3rver $S3RVER_VERSION from the npm registry"
  mkdir -p "$dir"
  (cd "$dir" && timeout 300 npm install --no-save --no-audit --no-fund --prefix . "s3rver@$S3RVER_VERSION" >/dev/null 2>&1) ||
    echo "run.sh: s3rver could not be installed; the upload test will skip" >&2
}

# Configures and builds one of the flavours of CMakePresets.json.
build() {
  local preset=$1
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)"
}

# The Windows build in build-win/, cross-compiled against a Qt for Windows.
build_windows() {
  qt_win=$(realpath -m "${MORVANIEL_QT_WIN:-$ROOT/../shared/qt5-mingw}")
  deps_win=$(realpath -m "${MORVANIEL_WIN_DEPS:-$ROOT/../shared/win-deps}")
  if [ ! -f "$qt_win/lib/cmake/Qt5/Qt5Config.cmake" ] || [ ! -f "$deps_win/lib/libzstd.a" ]; then
    echo "run.sh: no Qt for Windows at $qt_win (or no Windows dependencies at $deps_win)." >&2
    echo "  Build them from Debian's sources with packaging/windows/build-deps.sh (about an hour)," >&2
    echo "  or name existing ones with MORVANIEL_QT_WIN and MORVANIEL_WIN_DEPS." >&2
    exit 2
  fi
  MORVANIEL_QT_WIN=$qt_win MORVANIEL_WIN_DEPS=$deps_win build windows
}

# Every skip passes in CTest's eyes; name the skipped test functions (with
# their data row and reason) from the log of the run in the given build folder.
report_skips() {
  local log=$ROOT/$1/Testing/Temporary/LastTest.log skips=""
  [ -f "$log" ] && skips=$(tr -d '\r' <"$log" | sed -n 's/^SKIP   : //p')
  echo "run.sh: skipped test functions: $(printf '%s' "$skips" | grep -c .)"
  [ -z "$skips" ] || printf '%s\n' "$skips" | sed 's/^/  /'
}

# A command (ctest with a test preset) in the source folder, then the skips
# of the given build folder; the exit status is the command's.
run_ctest() {
  local dir=$1 status=0
  shift
  (cd "$ROOT" && "$@") || status=$?
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
    build default
    ;;
  demo)
    install_packages
    build default
    exec "$ROOT/build/bin/morvaniel" demo "$@"
    ;;
  launcher)
    install_packages
    build default
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
    install_s3rver
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
        build asan
        run_ctest build-asan ctest --preset asan ;;
      tsan)
        build tsan
        run_ctest build-tsan ctest --preset tsan ;;
      long)
        build default
        run_ctest build ctest --preset long ;;
      windows)
        build_windows
        run_ctest build-win ctest --preset windows ;;
      unprivileged)
        build default
        run_unprivileged build ctest --preset default ;;
      *)
        build default
        run_ctest build ctest --preset default ;;
    esac
    ;;
  package)
    [ "${1:-}" = --windows ] || { echo "run.sh: package takes --windows" >&2; exit 2; }
    install_packages
    build_windows
    exec "$ROOT/packaging/windows/package.sh" "$ROOT/build-win" "$qt_win" "$ROOT/dist"
    ;;
  bench)
    # bsdiff is one of the patch benchmark's peers; the link benchmark shapes
    # its links with tc and ip.
    PACKAGES+=(bsdiff iproute2)
    install_packages
    # A Release build of its own, so that the test build keeps its settings.
    build bench
    exec "$ROOT/bench/report.sh" "$ROOT/build-bench/bin" "$@"
    ;;
  fuzz)
    install_packages
    seconds=${1:-60}
    case "$seconds" in ''|*[!0-9]*) echo "run.sh: fuzz takes a number of seconds" >&2; exit 2 ;; esac
    # The library is compiled for coverage only; the targets link libFuzzer itself.
    build fuzz
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
