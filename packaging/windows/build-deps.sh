#!/usr/bin/env bash
# Builds what the Windows build needs, from Debian's own source packages, with
# the posix-thread mingw-w64 compilers: Qt 5.15 (Core, Gui, Widgets, Network
# with Schannel, Test; platform plugins windows, offscreen, minimal), static
# zstd and libsodium, and the standalone 7z.exe. About an hour on 2 cores.
#
#   packaging/windows/build-deps.sh <Qt folder> <dependencies folder>
#
# Then: MORVANIEL_QT_WIN=<Qt folder> MORVANIEL_WIN_DEPS=<dependencies folder> ./run.sh test --windows
set -euo pipefail
qt_out=$(realpath -m "${1:?usage: build-deps.sh <Qt folder> <dependencies folder>}")
deps_out=$(realpath -m "${2:?usage: build-deps.sh <Qt folder> <dependencies folder>}")
work=$(mktemp -d "${TMPDIR:-/tmp}/morvaniel-windeps.XXXXXX")
sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo

# Source packages: a deb-src twin of the machine's Debian source list.
if ! grep -rqs '^Types: deb-src' /etc/apt/sources.list.d/; then
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types: deb$/Types: deb-src/' "$f" | $sudo tee "${f%.sources}-src.sources" >/dev/null
  done
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 make perl python3 autoconf automake libtool dpkg-dev >/dev/null

# Debian's default mingw-w64 compilers use the win32 thread model (no std::mutex).
mkdir -p "$work/bin"
for tool in gcc g++ c++; do
  printf '#!/bin/sh\nexec x86_64-w64-mingw32-%s-posix "$@"\n' "${tool/c++/g++}" > "$work/bin/x86_64-w64-mingw32-$tool"
  chmod +x "$work/bin/x86_64-w64-mingw32-$tool"
done
export PATH="$work/bin:$PATH"
cd "$work"

# --- Qt ---
apt-get source --download-only qtbase-opensource-src >/dev/null
tar xf qtbase-opensource-src_*.orig.tar.xz
src=$(find . -maxdepth 1 -type d -name 'qtbase-*' | head -n 1)
# mingw-w64's import libraries on Linux are lower-case.
sed -i 's/-lSecur32 -lCrypt32/-lsecur32 -lcrypt32/' "$src/src/network/ssl/ssl.pri"
# Debian leaves out the Wintab headers; tablets then lose only Wintab pressure data.
sed -i 's/^qtConfig(tabletevent) {/false {/' "$src/src/plugins/platforms/windows/windows.pri"
sed -i 's/QT_CONFIG(tabletevent)/0/g' "$src/src/plugins/platforms/windows/qwindowscontext.cpp"
mkdir qt-build && cd qt-build
"../$src/configure" -xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32- \
  -prefix "$qt_out" -opensource -confirm-license -release -shared -nomake examples -nomake tests \
  -no-opengl -no-dbus -no-icu -qt-zlib -qt-pcre -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz \
  -no-sql-sqlite -no-sql-odbc -no-sql-psql -no-sql-mysql -schannel -no-pch -platform linux-g++ -strip
make -j"$(nproc)" && make install
cp /usr/lib/gcc/x86_64-w64-mingw32/*-posix/libstdc++-6.dll /usr/lib/gcc/x86_64-w64-mingw32/*-posix/libgcc_s_seh-1.dll \
  /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$qt_out/bin/"
cd "$work"

# --- zstd, libsodium, 7-Zip ---
mkdir -p "$deps_out/include" "$deps_out/lib" "$deps_out/bin"
apt-get source --download-only libzstd libsodium 7zip >/dev/null
for t in *.orig.tar.*; do tar xf "$t"; done
zstd=$(find . -maxdepth 1 -type d -name 'zstd-*' -o -maxdepth 1 -type d -name 'libzstd-*' | head -n 1)
make -C "$zstd/lib" libzstd.a CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
  CFLAGS="-O3 -DZSTD_MULTITHREAD -pthread"
cp "$zstd/lib/libzstd.a" "$deps_out/lib/"
cp "$zstd/lib/zstd.h" "$zstd/lib/zdict.h" "$zstd/lib/zstd_errors.h" "$deps_out/include/"
sodium=$(find . -maxdepth 1 -type d -name 'libsodium-*' | head -n 1)
(cd "$sodium" && ./autogen.sh -s && ./configure --host=x86_64-w64-mingw32 CC=x86_64-w64-mingw32-gcc-posix \
  --disable-shared --enable-static --prefix="$work/sodium" && make -j"$(nproc)" && make install)
cp "$work/sodium/lib/libsodium.a" "$deps_out/lib/"
cp -r "$work/sodium/include/." "$deps_out/include/"
sevenzip=$(find . -maxdepth 1 -type d -name '7zip-*' -o -maxdepth 1 -type d -name '7zip_*' | head -n 1)
make -C "$sevenzip/CPP/7zip/Bundles/Alone2" -f makefile.gcc IS_MINGW=1 MSYSTEM=1 DISABLE_RAR=1 \
  CC=x86_64-w64-mingw32-gcc-posix CXX=x86_64-w64-mingw32-g++-posix RC=x86_64-w64-mingw32-windres
cp "$sevenzip/CPP/7zip/Bundles/Alone2/_o/7zz.exe" "$deps_out/bin/7z.exe"

echo "build-deps: Qt in $qt_out, dependencies in $deps_out (work folder $work)"
