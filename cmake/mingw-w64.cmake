# Toolchain file of the Windows build: Debian's MinGW-w64 cross compiler (POSIX threads, so
# std::thread works), everything linked statically so the programs need no DLL beyond
# Windows' own. Tests run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KAP_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KAP_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAP_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KAP_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KAP_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
