# Cross-compiling for 64-bit Windows with mingw-w64 (posix thread model: the
# library and Qt need std::mutex and std::thread).
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DMORVANIEL_QT_WIN=<Qt for Windows> ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

get_filename_component(_morvaniel_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT MORVANIEL_QT_WIN)
  set(MORVANIEL_QT_WIN "${_morvaniel_root}/../shared/qt5-mingw")
endif()
if(NOT MORVANIEL_WIN_DEPS)
  set(MORVANIEL_WIN_DEPS "${_morvaniel_root}/../shared/win-deps")
endif()
get_filename_component(MORVANIEL_QT_WIN "${MORVANIEL_QT_WIN}" ABSOLUTE)
get_filename_component(MORVANIEL_WIN_DEPS "${MORVANIEL_WIN_DEPS}" ABSOLUTE)
set(MORVANIEL_QT_WIN "${MORVANIEL_QT_WIN}" CACHE PATH "Qt 5.15 built for Windows (mingw-w64)")
set(MORVANIEL_WIN_DEPS "${MORVANIEL_WIN_DEPS}" CACHE PATH "zstd, libsodium and 7z.exe for Windows")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${MORVANIEL_QT_WIN}" "${MORVANIEL_WIN_DEPS}")
set(CMAKE_PREFIX_PATH "${MORVANIEL_QT_WIN}" "${MORVANIEL_WIN_DEPS}")
# Qt's moc and rcc in the Windows Qt's bin/ are Linux programs; everything else
# (headers, libraries, package files) comes from the Windows side only.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and tools built here run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${_morvaniel_root}/cmake/wine-run.sh")

# zlib linked in statically: one DLL fewer to ship beside the library.
if(EXISTS /usr/x86_64-w64-mingw32/lib/libz.a)
  set(ZLIB_LIBRARY /usr/x86_64-w64-mingw32/lib/libz.a CACHE FILEPATH "")
endif()
