#!/usr/bin/env bash
# Runs every benchmark of a build and prints one table: each of our figures
# beside its peer from the same run, the ratio ours/peer and the target.
#
#   bench/report.sh <bin dir> [--quick] [--long] [--only <name>] [--log <file>]
#
# Every benchmark prints its figures as tab-separated rows
#   ROW  figure  ours  peer  peer name  unit  target
# where target is ">=x" or "<=x" (for the ratio) or "~x" (|ratio - 1| <= x).
# A benchmark's own table comes as lines SHOW<tab>text, printed after the
# figures. Everything else they print goes to the log.
#
# Sizes: BENCH_DOWNLOAD_ARGS, BENCH_VERIFY_ARGS, BENCH_PATCH_ARGS,
# BENCH_PLANNING_ARGS, BENCH_LINK_ARGS and BENCH_BLOCKCUT_ARGS replace each
# benchmark's arguments; --quick picks small ones for a smoke run. --long adds
# bench_patch's 2.4 GiB pair (10 GiB of free disk, several minutes) and
# bench_link's 10 GiB game (some 50 GiB of free disk, about an hour).
set -uo pipefail

bin=${1:?usage: report.sh <bin dir> [--quick] [--long] [--only name] [--log file]}
shift
only=""
log=""
quick=0
long=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --long) long=--long ;;
    --only) only=$2; shift ;;
    --log) log=$2; shift ;;
    *) echo "report.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$log" ] || log=$(mktemp /tmp/morvaniel-bench.XXXXXX.log)

if [ $quick -eq 1 ]; then
  : "${BENCH_DOWNLOAD_ARGS:=--total-mib 256 --limit-seconds 4 --big-mib 512}"
  : "${BENCH_VERIFY_ARGS:=64 2}"
  : "${BENCH_PATCH_ARGS:=32 2}"
  : "${BENCH_LINK_ARGS:=--quick}"
  : "${BENCH_BLOCKCUT_ARGS:=--mib 256}"
fi

args_for() {
  case "$1" in
    bench_download) echo "${BENCH_DOWNLOAD_ARGS:-}" ;;
    bench_verify) echo "${BENCH_VERIFY_ARGS:-}" ;;
    bench_patch) echo "${BENCH_PATCH_ARGS:-} $long" ;;
    bench_planning) echo "${BENCH_PLANNING_ARGS:-}" ;;
    bench_link) echo "${BENCH_LINK_ARGS:-} $long" ;;
    bench_blockcut) echo "${BENCH_BLOCKCUT_ARGS:-}" ;;
  esac
}

load() { cut -d' ' -f1-3 /proc/loadavg; }

start_load=$(load)
start_time=$(date -u +%H:%M:%S)
rows=$(mktemp)
status=0
for b in "$bin"/bench_*; do
  [ -x "$b" ] || continue
  name=$(basename "$b")
  [ -n "$only" ] && [ "$name" != "$only" ] && continue
  echo "report.sh: running $name $(args_for "$name") (log: $log)" >&2
  # shellcheck disable=SC2046
  if ! "$b" $(args_for "$name") 2>>"$log" | tee -a "$log" | grep -E $'^(ROW|SHOW)\t' >>"$rows"; then
    echo "report.sh: $name failed, see $log" >&2
    status=1
  fi
done
end_load=$(load)

echo
echo "Morvaniel benchmarks, $(date -u +%F) $start_time-$(date -u +%H:%M:%S) UTC, $(nproc) cores"
echo "load average (1/5/15 min): start $start_load, end $end_load"
echo
awk -F'\t' '
  function verdict(ratio, target,   t) {
    if (target == "") return ""
    t = substr(target, 3) + 0
    if (substr(target, 1, 2) == ">=") return ratio >= t ? "met" : "MISSED"
    if (substr(target, 1, 2) == "<=") return ratio <= t ? "met" : "MISSED"
    t = substr(target, 2) + 0
    if (substr(target, 1, 1) == "~") return (ratio - 1 <= t && 1 - ratio <= t) ? "met" : "MISSED"
    return ""
  }
  BEGIN {
    printf "%-44s %11s %11s  %-24s %-6s %7s  %-7s %s\n", "figure", "ours", "peer", "peer", "unit", "ratio", "target", ""
  }
  $1 == "SHOW" {
    shown[++shows] = substr($0, 6)
    next
  }
  {
    ratio = ($4 + 0 != 0) ? ($3 / $4) : 0
    printf "%-44s %11.2f %11.2f  %-24s %-6s %7.3f  %-7s %s\n", $2, $3, $4, $5, $6, ratio, $7, verdict(ratio, $7)
  }
  END {
    for (i = 1; i <= shows; ++i) print shown[i]
  }' "$rows"
rm -f "$rows"
exit $status
