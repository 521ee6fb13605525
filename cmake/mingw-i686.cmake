# Cross-compiles the Windows image with Debian's MinGW-w64 for 32-bit x86.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TARNWICK_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TARNWICK_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TARNWICK_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TARNWICK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler check links a program with the C runtime; the real image is
# linked without it, so only compilation is worth checking here.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
