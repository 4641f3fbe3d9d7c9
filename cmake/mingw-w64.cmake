# Cross-compiles the Windows build with Debian's MinGW-w64 (POSIX thread model,
# so std::thread and std::mutex work) and runs its programs and tests under wine.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DWITH_GUI=OFF -DWITH_SPREADSHEETS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZARVIK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZARVIK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZARVIK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZARVIK_MINGW_TRIPLE}-windres)

# Package searches stay inside the MinGW roots; a build that brings its own
# Windows libraries (Qt, the spreadsheet libraries) adds their folders with
# -DCMAKE_FIND_ROOT_PATH=...
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${ZARVIK_MINGW_TRIPLE})
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained .exe each: no MinGW runtime DLLs to ship or to find under wine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(ZARVIK_WINE NAMES wine wine64)
if(ZARVIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZARVIK_WINE})
endif()
