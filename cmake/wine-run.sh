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
case "$(basename "$1")" in
  tst_*.exe) ;;
  *) exec "$wine" "$@" ;;
esac
# QtTest's log on standard output does not come through Wine's pipe here; the
# test writes it to a file that is shown afterwards.
log=$(mktemp "${TMPDIR:-/tmp}/wine-test.XXXXXX") || exit 1
"$wine" "$@" -o "$(winpath "$log"),txt"
rc=$?
cat "$log"
rm -f "$log"
exit $rc
