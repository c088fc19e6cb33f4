#!/bin/sh
# Runs the cross-compiled Windows check program under Wine in a scratch prefix.
# Exit 77 (reported by CTest as skipped) when Wine itself cannot run here, with
# the reason printed; any other non-zero exit is a failed check.
# usage: run_wincheck.sh <wine loader> <wincheck.exe> <scratch parent folder>
wine=$1
exe=$2
scratch=$3

if [ ! -x "$wine" ]; then
    echo "SKIP: no Wine loader at $wine; the Windows layer was compiled but not run"
    exit 77
fi
if [ ! -f "$exe" ]; then
    echo "FAIL: $exe was not built"
    exit 1
fi

mkdir -p "$scratch"
prefix=$(mktemp -d "$scratch/wineprefix.XXXXXX") || exit 1
export WINEPREFIX="$prefix" WINEDEBUG=-all
out="$prefix.out"
"$wine" "$exe" >"$out" 2>"$prefix.err"
rc=$?
cat "$out"
# The prefix's own server would otherwise linger until its idle timeout.
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] && "$wineserver" -k >/dev/null 2>&1
if ! grep -q '^wincheck: started' "$out"; then
    echo "SKIP: Wine could not start the program (exit $rc):"
    cat "$prefix.err"
    rm -rf "$prefix" "$prefix.out" "$prefix.err"
    exit 77
fi
rm -rf "$prefix" "$prefix.out" "$prefix.err"
exit $rc
