# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which std::thread needs). Executables are linked statically, so that
# fpskit.exe imports nothing but system DLLs and runs on its own.
#
# Libraries are searched in MinGW's own tree and in the prefix that
# scripts/windows/deps.sh fills (liblzma and GoogleTest built from Debian's
# sources), never among the host's libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FPSKIT_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FPSKIT_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FPSKIT_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FPSKIT_MINGW_TRIPLE}-windres)

get_filename_component(FPSKIT_WINDOWS_DEPS "${CMAKE_CURRENT_LIST_DIR}/../.deps/${FPSKIT_MINGW_TRIPLE}" ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${FPSKIT_MINGW_TRIPLE} ${FPSKIT_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# FindZLIB would otherwise take the import library libz.dll.a; Wine ships a
# zlib1.dll of its own, so such a link passes under Wine and fails on Windows.
set(ZLIB_USE_STATIC_LIBS ON)
# The prefix's liblzma and GoogleTest come with CMake package files; liblzma's
# tells its users that the library is static (LZMA_API_STATIC).
set(CMAKE_FIND_PACKAGE_PREFER_CONFIG ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
