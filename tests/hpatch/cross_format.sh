#!/bin/sh
# One patch format on both systems: a patch made by the Linux hdiffz applies
# byte-exact with hpatchz.exe under Wine, and one made by hdiffz.exe applies
# with the Linux hpatchz; a file in a folder with CJK and blank names too.
# usage: cross_format.sh <folder of the Linux tools> <hdiffz.exe> <hpatchz.exe> <Wine runner>
# Exit 77 (skipped) when the Linux tools are not built.
set -u
linux=$1 hdiffz_exe=$2 hpatchz_exe=$3 wine=$4
if [ ! -x "$linux/hdiffz" ] || [ ! -x "$linux/hpatchz" ]; then
    echo "SKIP: no Linux hdiffz/hpatchz in $linux (./run.sh build makes them)"
    exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/cross-format.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
win() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
fail() { echo "FAIL: $*"; exit 1; }

# A 3 MiB file and its next version: bytes changed, a block inserted, a tail added.
head -c 3145728 /dev/urandom > "$work/old"
{ head -c 1000000 "$work/old"; head -c 5000 /dev/urandom; tail -c +1000001 "$work/old"; head -c 777 /dev/urandom; } > "$work/new"
printf 'edited' | dd of="$work/new" bs=1 seek=4096 conv=notrunc 2>/dev/null

"$linux/hdiffz" "$work/old" "$work/new" "$work/linux.patch" >/dev/null || fail "Linux hdiffz"
cp "$work/old" "$work/a"
"$wine" "$hpatchz_exe" "$(win "$work/a")" "$(win "$work/linux.patch")" "$(win "$work/a")" -f > "$work/out" \
    || fail "hpatchz.exe on a Linux patch"
cmp -s "$work/a" "$work/new" || fail "hpatchz.exe made other bytes from the Linux patch"
grep -q 'progress:(100)' "$work/out" || fail "hpatchz.exe printed no progress"

"$wine" "$hdiffz_exe" "$(win "$work/old")" "$(win "$work/new")" "$(win "$work/windows.patch")" >/dev/null \
    || fail "hdiffz.exe"
cp "$work/old" "$work/b"
"$linux/hpatchz" "$work/b" "$work/windows.patch" "$work/b" -f >/dev/null || fail "Linux hpatchz on a Windows patch"
cmp -s "$work/b" "$work/new" || fail "the Linux hpatchz made other bytes from the Windows patch"
cmp -s "$work/linux.patch" "$work/windows.patch" || fail "the two systems made different patches"

dir="$work/游戏 数据"
mkdir -p "$dir" && cp "$work/old" "$dir/a b.pak"
"$wine" "$hpatchz_exe" "$(win "$dir/a b.pak")" "$(win "$work/linux.patch")" "$(win "$dir/a b.pak")" -f >/dev/null \
    || fail "hpatchz.exe on a CJK and blank path"
cmp -s "$dir/a b.pak" "$work/new" || fail "hpatchz.exe on a CJK and blank path made other bytes"
ls "$dir" | grep -q hpatch- && fail "a temporary file was left beside the target"
echo "PASS: one patch format on Linux and Windows"
