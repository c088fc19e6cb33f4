#!/bin/sh
# The Windows package on its own: made from the build, unpacked from its zip
# into an empty folder and its morvaniel.exe demo run under Wine with nothing
# else on the DLL search path.
# usage: package_demo.sh <source folder> <Windows build folder> <Qt for Windows> <Wine prefix>
set -u
src=$1 build=$2 qt=$3 prefix=$4
work=$(mktemp -d "${TMPDIR:-/tmp}/package-demo.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
"$src/packaging/windows/package.sh" "$build" "$qt" "$work/dist" || { echo "FAIL: packaging"; exit 1; }
mkdir "$work/unpacked"
7z x -bd -y -o"$work/unpacked" "$work/dist/morvaniel-windows.zip" >/dev/null || { echo "FAIL: unpacking"; exit 1; }
for f in morvaniel.dll morvaniel.exe hpatchz.exe hdiffz.exe 7z.exe Qt5Core.dll qt.conf plugins/platforms/qwindows.dll; do
  [ -f "$work/unpacked/morvaniel-windows/bin/$f" ] || { echo "FAIL: bin/$f is missing"; exit 1; }
done
[ -f "$work/unpacked/morvaniel-windows/lib/cmake/Morvaniel/MorvanielConfig.cmake" ] || { echo "FAIL: no CMake package"; exit 1; }
[ -f "$work/unpacked/morvaniel-windows/include/morvaniel/core/CoreSystem.h" ] || { echo "FAIL: no headers"; exit 1; }
cd "$work/unpacked/morvaniel-windows/bin" || exit 1
WINEPREFIX=$prefix "$src/cmake/wine-boot.sh" "${MORVANIEL_WINE:-/usr/lib/wine/wine64}"
# Output through a file: no program of the prefix may hold CTest's pipe.
WINEPREFIX=$prefix WINEDEBUG=-all WINEPATH= QT_PLUGIN_PATH= QT_QPA_PLATFORM=offscreen \
  "${MORVANIEL_WINE:-/usr/lib/wine/wine64}" ./morvaniel.exe demo </dev/null >"$work/demo.out" 2>&1
rc=$?
cat "$work/demo.out"
exit $rc
