#!/bin/sh
# Runs a Windows program of the build under Wine: one scratch prefix per build
# folder, Qt's DLLs and plugins and the library's own folder on the search path.
# MORVANIEL_WINE_PREFIX, MORVANIEL_QT_WIN and MORVANIEL_WIN_BIN are set by the
# build (see tests/CMakeLists.txt); they default to places beside this script.
here=$(cd "$(dirname "$0")" && pwd)
wine=${MORVANIEL_WINE:-/usr/lib/wine/wine64}
qt=${MORVANIEL_QT_WIN:-$here/../../shared/qt5-mingw}
bin=${MORVANIEL_WIN_BIN:-$here/../build-win/bin}
export WINEPREFIX=${MORVANIEL_WINE_PREFIX:-$here/../build-win/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
winpath() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }
export QT_PLUGIN_PATH="$(winpath "$qt/plugins")"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# Wine's own search path for DLLs, in Windows form (Z: is the Linux root).
export WINEPATH="$(winpath "$qt/bin");$(winpath "$bin")"
mkdir -p "$WINEPREFIX"
"$here/wine-boot.sh" "$wine"
# Programs of the prefix may outlive the one started here and inherit its
# standard handles; a pipe of CTest's held by them would keep the test from
# ending. Output goes through files instead, shown when the program is done.
# QtTest's own log does not come through Wine's standard output at all: a test
# writes it to a file as well.
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX") || exit 1
log=$out.log
case "$(basename "$1")" in
  tst_*.exe) "$wine" "$@" -o "$(winpath "$log"),txt" </dev/null >"$out" 2>&1 ;;
  *) "$wine" "$@" </dev/null >"$out" 2>&1 ;;
esac
rc=$?
cat "$out"
[ -f "$log" ] && cat "$log"
rm -f "$out" "$log"
exit $rc
