#!/usr/bin/env bash
# Makes the Windows package of a Windows build: <out>/morvaniel-windows/ with
#   bin/      morvaniel.dll, morvaniel.exe, hpatchz.exe, hdiffz.exe, 7z.exe, the Qt
#             and compiler DLLs they need, Qt's platform plugins and a qt.conf
#   include/  the library's headers
#   lib/      the import library and lib/cmake/Morvaniel for a Windows host
# and <out>/morvaniel-windows.zip of it.
#   packaging/windows/package.sh <Windows build folder> <Qt for Windows> <output folder>
set -euo pipefail
build=$(realpath "${1:?usage: package.sh <build folder> <Qt folder> <output folder>}")
qt=$(realpath "${2:?usage: package.sh <build folder> <Qt folder> <output folder>}")
out=$(realpath -m "${3:?usage: package.sh <build folder> <Qt folder> <output folder>}")
pkg="$out/morvaniel-windows"

rm -rf "$pkg" "$pkg.zip"
mkdir -p "$pkg/bin/plugins/platforms"
cmake --install "$build" --prefix "$pkg" >/dev/null
cp "$build/bin/7z.exe" "$pkg/bin/"
for dll in Qt5Core Qt5Gui Qt5Network Qt5Widgets libstdc++-6 libgcc_s_seh-1 libwinpthread-1; do
  cp "$qt/bin/$dll.dll" "$pkg/bin/"
done
for plugin in qwindows qoffscreen qminimal; do
  cp "$qt/plugins/platforms/$plugin.dll" "$pkg/bin/plugins/platforms/"
done
printf '[Paths]\nPlugins=plugins\n' > "$pkg/bin/qt.conf"
(cd "$out" && 7z a -tzip -bd -y morvaniel-windows.zip morvaniel-windows >/dev/null)
echo "package: $pkg and $pkg.zip"
