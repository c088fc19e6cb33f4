#!/usr/bin/env bash
# The link benchmark: a large published game served by nginx where players
# live, installed three ways in the same run:
#   peer      aria2c -x8 -s8 -j5 -k1M, then md5sum of the archives, then 7z x
#   archives  morvaniel update against the same publication with its block
#             store hidden (the hosts' archive path)
#   blocks    linkbench-blocks (block delivery through the library's API)
# Setups, each in a private network namespace (unshare -n) of its own:
#   cap       nginx limit_rate 30m per connection, loopback otherwise
#   1g        link 1 Gbit/s (tbf on the loopback, for nginx's packets only),
#             30m per connection, 40 ms round trip (linkbench-proxy)
#   100m      link 100 Mbit/s, 30m per connection, 40 ms round trip
# For each: time, bytes on the wire (nginx's log), peak disk of the install
# folder, and the link floor (bytes / link rate). The cap setup also repairs
# one damaged byte of the 2 GiB pak both ways, and updates by blocks from the
# version before. Publishing is timed, and within it the block store.
#
#   bench_link [--quick] [--long] [--size MiB] [--setups cap,1g,100m] [--only peer,archives,blocks]
#              [--dir <scratch>]
# --quick: a 512 MiB game, cap and 1g only. --long: also the 10 GiB game.
# --only: these contenders (and the repairs and update that go with them).
# The published games are kept in <bin>/../bench-cache/link (about 4.5x the
# game's size each; --long needs some 50 GiB free). Needs root (namespaces,
# tc), nginx, aria2c and 7z; without them it says so and ends.
set -uo pipefail
bin=$(cd "$(dirname "$0")" && pwd)
sizes=3072
setups=cap,1g,100m
contenders=peer,archives,blocks
cache=${BENCH_LINK_CACHE:-$bin/../bench-cache/link}
inside=""
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) sizes=512; setups=cap,1g ;;
    --long) sizes="$sizes 10240" ;;
    --size) sizes=$2; shift ;;
    --setups) setups=$2; shift ;;
    --only) contenders=$2; shift ;;
    --dir) cache=$2; shift ;;
    --inside) inside=$2; shift ;;
    *) echo "bench_link: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

show() { printf 'SHOW\t%s\n' "$*"; }
row() { printf 'ROW\t%s\t%s\t%s\t%s\t%s\t%s\n' "$@"; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\", $* }"; }
NGX_PORT=8081
PROXY_PORT=8080

# ---------------------------------------------------------------- inside ---
# Runs in the namespace: link model, nginx, proxy, the contenders. Writes
# RESULT lines to $out. Arguments come through the environment.
run_inside() {
  ip link set lo up || return 1
  if [ "$LINK" != none ]; then
    tc qdisc add dev lo root handle 1: htb default 10 2>/dev/null
    tc class add dev lo parent 1: classid 1:10 htb rate 100gbit 2>/dev/null
    tc class add dev lo parent 1: classid 1:20 htb rate 100gbit 2>/dev/null
    tc qdisc add dev lo parent 1:20 handle 20: tbf rate "$LINK" burst "$BURST" latency 100ms || return 1
    tc filter add dev lo parent 1: protocol ip prio 1 u32 match ip sport $NGX_PORT 0xffff flowid 1:20 || return 1
  fi
  local ngx=$WORK/nginx
  rm -rf "$ngx" && mkdir -p "$ngx"
  cat >"$ngx/nginx.conf" <<EOF
daemon off;
user root;
worker_processes 2;
pid $ngx/nginx.pid;
error_log $ngx/error.log;
events { worker_connections 1024; }
http {
  log_format bytes '\$bytes_sent';
  access_log $ngx/access.log bytes;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 100000;
  keepalive_timeout 120;
  default_type application/octet-stream;
  server {
    listen 127.0.0.1:$NGX_PORT;
    root $WWW;
    limit_rate 30m;
    # The same publication without its block store: the hosts' archive path
    # (a 404 on the block index).
    location /archives-only/game/blocks/ { return 404; }
    location /archives-only/ { alias $WWW/; }
  }
}
EOF
  nginx -c "$ngx/nginx.conf" -p "$ngx" &
  local nginx_pid=$!
  local proxy_pid=""
  local url=http://127.0.0.1:$NGX_PORT
  if [ "$DELAY" -gt 0 ]; then
    "$bin/linkbench-proxy" $PROXY_PORT $NGX_PORT $((DELAY / 2)) >"$WORK/proxy.log" 2>&1 &
    proxy_pid=$!
    url=http://127.0.0.1:$PROXY_PORT
  fi
  for _ in $(seq 100); do curl -s -o /dev/null "$url/info.json" && break; sleep 0.1; done

  local newest
  newest=$(tail -1 "$WWW/game/manifest.txt")
  grep "^$newest->$newest|" "$WWW/game/manifest.txt" | cut -d'|' -f2 | sed "s|^|$url/|" >"$WORK/urls.txt"
  grep "^$newest->$newest|" "$WWW/game/manifest.txt" | awk -F'|' '{ n = split($2, p, "/"); print $3 "  " p[n] }' \
    >"$WORK/md5.txt"

  peer() {
    mkdir -p "$1/dl" "$1/game"
    aria2c -x8 -s8 -j5 -k1M --file-allocation=none --console-log-level=error --summary-interval=0 \
      --download-result=hide -d "$1/dl" -i "$WORK/urls.txt" || return 1
    (cd "$1/dl" && md5sum -c --quiet "$WORK/md5.txt") || return 1
    for a in "$1"/dl/*.7z; do 7z x -y -bd -o"$1/game" "$a" >/dev/null || return 1; done
  }
  archives() { "$bin/morvaniel" update --server "$url/archives-only" --dir "$1"; }
  blocks() { "$bin/linkbench-blocks" --server "$url" --dir "$1/game" "${@:2}"; }
  archive_repair() { "$bin/morvaniel" repair --server "$url/archives-only" --dir "$1"; }
  block_repair() { "$bin/linkbench-blocks" --server "$url" --dir "$1/game" --repair "$PAK"; }
  block_update() { "$bin/linkbench-blocks" --server "$url" --dir "$1/game" --installed "$OLDEST"; }

  # measure <label> <folder> <keep: 1 leaves the folder as it was> <command...>
  measure() {
    local label=$1 folder=$2 keep=$3
    shift 3
    [ "$keep" = 1 ] || { rm -rf "$folder"; mkdir -p "$folder"; }
    : >"$ngx/access.log"
    (while :; do du -sB1 "$folder" 2>/dev/null | cut -f1; sleep 0.25; done) >"$WORK/disk.txt" &
    local sampler=$! t0 t1 rc
    t0=$(now)
    "$@" "$folder" >"$WORK/$label.log" 2>&1
    rc=$?
    t1=$(now)
    kill $sampler 2>/dev/null
    wait $sampler 2>/dev/null
    du -sB1 "$folder" | cut -f1 >>"$WORK/disk.txt"
    sleep 0.3
    local peak wire
    peak=$(sort -n "$WORK/disk.txt" | tail -1)
    wire=$(awk '{ s += $1 } END { printf "%d", s }' "$ngx/access.log")
    printf 'RESULT\t%s\t%s\t%s\t%s\t%s\t%s\n' "$SETUP" "$label" "$rc" "$(calc "$t1 - $t0")" "$wire" "$peak" >>"$OUT"
    [ $rc -eq 0 ] || { echo "bench_link: $label failed in $SETUP:" >&2; tail -5 "$WORK/$label.log" >&2; }
  }
  damage() { # one byte in the middle of the pak, flipped
    local f=$1/$PAK size
    size=$(stat -c %s "$f")
    printf '\x5a' | dd of="$f" bs=1 seek=$((size / 2)) conv=notrunc status=none
  }

  local inst=$WORK/install
  wanted() { case ",$CONTENDERS," in *",$1,"*) return 0 ;; esac; return 1; }
  wanted peer && measure peer "$inst" 0 peer
  if wanted archives; then
    measure archives "$inst" 0 archives
    if [ "$SETUP" = cap ]; then
      damage "$inst/MorvanielGame"
      measure archive-repair "$inst" 1 archive_repair
    fi
  fi
  wanted blocks && measure blocks "$inst" 0 blocks
  if wanted blocks && [ "$SETUP" = cap ]; then
    grep -h '^blocks ' "$WORK/blocks.log" | sed "s/^/$SETUP blocks: /" >>"$WORK/notes.txt"
    damage "$inst/game"
    measure block-repair "$inst" 1 block_repair
    grep -h '^blocks ' "$WORK/block-repair.log" | sed "s/^/$SETUP block-repair: /" >>"$WORK/notes.txt"
    # The version before, installed by blocks (untimed), then the update.
    rm -rf "$inst" && mkdir -p "$inst"
    blocks "$inst" --version "$OLDEST" >"$WORK/old.log" 2>&1
    "$bin/linkbench-blocks" --server "$url" --dir "$inst/game" --installed "$OLDEST" --plan-only \
      --patch-chain "$CHAIN" 2>/dev/null | grep '^plan ' >>"$WORK/notes.txt"
    measure block-update "$inst" 1 block_update
    grep -h '^blocks ' "$WORK/block-update.log" | sed "s/^/$SETUP block-update: /" >>"$WORK/notes.txt"
  fi
  rm -rf "$inst"
  [ -n "$proxy_pid" ] && kill "$proxy_pid"
  kill "$nginx_pid"
  wait 2>/dev/null
  return 0
}

if [ -n "$inside" ]; then
  run_inside
  exit $?
fi

# --------------------------------------------------------------- outside ---
missing=""
[ "$(id -u)" -eq 0 ] || missing="$missing root"
for tool in unshare tc ip nginx aria2c 7z md5sum curl; do command -v $tool >/dev/null || missing="$missing $tool"; done
if [ -n "$missing" ]; then
  show "link benchmark: skipped, missing:$missing"
  exit 0
fi
mkdir -p "$cache"

# prepare <MiB>: the game's two versions, published with and without blocks (timed), cached.
prepare() {
  local mib=$1 dir=$cache/game-$1
  [ -f "$dir/ready" ] && return 0
  echo "bench_link: generating and publishing a $mib MiB game in $dir (once)" >&2
  rm -rf "$dir" && mkdir -p "$dir"
  "$bin/linkbench-game" "$dir/versions" 2 "$mib" >&2 || return 1
  # One publication, timed as a whole (wall time, and processor time of the
  # publisher with its 7z and hdiffz, which other work on the machine hardly
  # moves); the publisher times its block store phase itself. Without the
  # block store it would have taken the whole less that phase.
  local TIMEFORMAT='%R %U %S' total blocks
  total=$({ time "$bin/morvaniel" publish "$dir/versions" "$dir/www" >"$dir/publish.log" 2>&1; } 2>&1) || return 1
  blocks=$(sed -n 's/^blocks: .*, \([0-9.]*\) s (\([0-9.]*\) s processor)$/\1 \2/p' "$dir/publish.log")
  [ -n "$blocks" ] || return 1
  printf '%s %s\n' "$(echo "$total" | awk '{ print $1, $2 + $3 }')" "$blocks" >"$dir/publish-times"
  # The older version's tree is not needed again.
  rm -rf "$dir/versions/1.0.0.1"
  touch "$dir/ready"
}

results=$(mktemp)
notes=$(mktemp)
status=0
for mib in $sizes; do
  if ! prepare "$mib"; then
    show "link benchmark, $mib MiB game: preparing failed (see $cache/game-$mib)"
    status=1
    continue
  fi
  dir=$cache/game-$mib
  www=$dir/www
  game_bytes=$(du -sb "$dir/versions/1.0.0.2" | cut -f1)
  game_blocks=$(du -sB1 "$dir/versions/1.0.0.2" | cut -f1)
  newest=$(tail -1 "$www/game/manifest.txt")
  oldest=$(ls "$www/game" | grep -E '^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$' | sort -V | head -1)
  chain=$(grep "^$oldest->$newest|" "$www/game/manifest.txt" | awk -F'|' '{ s += $4 } END { print s + 0 }')
  archives=$(grep "^$newest->$newest|" "$www/game/manifest.txt" | awk -F'|' '{ print $4 }' | sort -n)
  two_archives=$(printf '%s\n' $archives | tail -2 | awk '{ s += $1 } END { print s + 0 }')
  store=$(du -sb "$www/game/blocks" | cut -f1)
  read -r t_all c_all t_store c_store <"$dir/publish-times"
  t_plain=$(calc "$t_all - $t_store")
  c_plain=$(calc "$c_all - $c_store")
  : >"$results"
  : >"$notes"
  for setup in ${setups//,/ }; do
    case $setup in
      cap) link=none; burst=0; delay=0; rate=0 ;;
      1g) link=1gbit; burst=1mb; delay=40; rate=125000000 ;;
      100m) link=100mbit; burst=256kb; delay=40; rate=12500000 ;;
      *) echo "bench_link: unknown setup $setup" >&2; continue ;;
    esac
    echo "bench_link: $mib MiB game, setup $setup" >&2
    work=$(mktemp -d)
    : >"$work/notes.txt"
    SETUP=$setup LINK=$link BURST=$burst DELAY=$delay WWW=$www WORK=$work OUT=$results OLDEST=$oldest CHAIN=$chain CONTENDERS=$contenders \
      PAK=PM/Content/Paks/pakchunk0-WindowsNoEditor.pak unshare -n "$0" --inside 1 || status=1
    cat "$work/notes.txt" >>"$notes"
    rm -rf "$work"
  done

  # The table, and the figures against their targets.
  show ""
  show "link benchmark, $mib MiB game ($(calc "$game_bytes / 1073741824") GiB, newest $newest); nginx limit_rate 30m per connection"
  show "publishing: $(printf '%.1f' "$t_all") s ($(printf '%.1f' "$c_all") s processor) in all, of which the block store $(printf '%.1f' "$t_store") s ($(printf '%.1f' "$c_store") s); the block store adds $(calc "$store / 1048576") MiB to $(calc "($(du -sb "$www" | cut -f1) - $store) / 1048576") MiB of archives and manifests"
  show "$(printf '%-6s %-15s %9s %11s %11s %10s %12s  %s' setup contender seconds 'wire MiB' 'peak GiB' 'peak/game' 'floor s' 'time/floor')"
  while IFS=$'\t' read -r tag setup label rc seconds wire peak; do
    [ "$tag" = RESULT ] || continue
    case $setup in 1g) rate=125000000 ;; 100m) rate=12500000 ;; *) rate=0 ;; esac
    floor=-
    ratio=-
    if [ "$rate" -gt 0 ] && [ "$wire" -gt 0 ]; then
      floor=$(calc "$wire / $rate")
      ratio=$(calc "$seconds / $floor")
    fi
    mark=""
    [ "$rc" = 0 ] || mark="  FAILED"
    show "$(printf '%-6s %-15s %9.1f %11.1f %11.2f %10.3f %12s  %s%s' "$setup" "$label" "$seconds" \
      "$(calc "$wire / 1048576")" "$(calc "$peak / 1073741824")" "$(calc "$peak / $game_blocks")" "$floor" "$ratio" "$mark")"
  done <"$results"
  while read -r line; do show "  $line"; done <"$notes"

  get() { awk -F'\t' -v s="$1" -v l="$2" -v f="$3" '$2 == s && $3 == l { print $f }' "$results"; }
  for setup in ${setups//,/ }; do
    p=$(get "$setup" peer 5)
    a=$(get "$setup" archives 5)
    b=$(get "$setup" blocks 5)
    bw=$(get "$setup" blocks 6)
    [ -n "$p" ] || continue
    case $setup in
      cap)
        [ -n "$b" ] && row "$mib MiB cap: blocks install (s)" "$b" "$p" "peer" "s" "<=0.6"
        [ -n "$a" ] && row "$mib MiB cap: archive install (s)" "$a" "$p" "peer" "s" "<=0.9"
        r=$(get cap block-repair 5)
        rw=$(get cap block-repair 6)
        [ -n "$r" ] && row "$mib MiB cap: block repair of 1 byte (s)" "$r" 5 "target" "s" "<=1"
        [ -n "$rw" ] && row "$mib MiB cap: block repair of 1 byte (MiB)" "$(calc "$rw / 1048576")" 16 "target" "MiB" "<=1"
        ar=$(get cap archive-repair 5)
        [ -n "$ar" ] && [ -n "$r" ] && row "$mib MiB cap: block repair against archive repair (s)" "$r" "$ar" "archive repair" "s" ""
        ;;
      1g | 100m)
        case $setup in 1g) rate=125000000 ;; *) rate=12500000 ;; esac
        [ -n "$b" ] && row "$mib MiB $setup: blocks install (s)" "$b" "$(calc "1.15 * $bw / $rate + 5")" "1.15 x floor + 5 s" "s" "<=1"
        [ -n "$a" ] && row "$mib MiB $setup: archive install (s)" "$a" "$p" "peer" "s" "<=0.9"
        pw=$(get "$setup" peer 6)
        row "$mib MiB $setup: peer against its floor (s)" "$p" "$(calc "$pw / $rate")" "peer's floor" "s" ""
        ;;
    esac
    bp=$(get "$setup" blocks 7)
    ap=$(get "$setup" archives 7)
    [ -n "$bp" ] && row "$mib MiB $setup: peak disk, blocks (GiB)" "$(calc "$bp / 1073741824")" "$(calc "$game_blocks / 1073741824")" "game" "GiB" "<=1.05"
    [ -n "$ap" ] && row "$mib MiB $setup: peak disk, archives (GiB)" "$(calc "$ap / 1073741824")" "$(calc "($game_blocks + $two_archives) / 1073741824")" "game + 2 archives" "GiB" "<=1"
  done
  row "$mib MiB: publishing with blocks, processor (s)" "$c_all" "$c_plain" "without blocks" "s" "<=1.3"
  row "$mib MiB: publishing with blocks, wall (s)" "$t_all" "$t_plain" "without blocks" "s" "<=1.3"
  update=$(grep -h '^plan ' "$notes" | head -1)
  if [ -n "$update" ]; then
    fetch=$(printf '%s' "$update" | sed -n 's/.*fetch=\([0-9]*\).*/\1/p')
    row "$mib MiB: update from $oldest, blocks against patch chain (MiB)" "$(calc "$fetch / 1048576")" "$(calc "$chain / 1048576")" "patch chain" "MiB" ""
  fi
done
rm -f "$results" "$notes"
exit $status
