# Cross-builds the Windows programs from Debian with mingw-w64 (the posix
# flavour, whose libstdc++ has std::thread). The tests run under wine.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every program runs as it is, with no DLL beside it but Windows' own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Every Windows program the build or ctest runs (the sound maker, the tests)
# goes through wine's loader, which Debian keeps off PATH, in a wine prefix of
# the build's own, without wine's noise and its offers to install .NET and a
# browser engine. Headless, as the Linux tests run without a display: no
# desktop process (wine's explorer, which without a display stalls a message
# box for 10 s now and then before it fails), and no sound drivers, whose
# probing of ALSA prints to the programs' standard error, as the Linux tests
# play to SDL's dummy driver. scripts/wine-server.sh keeps the prefix's
# server running across the tests.
set(GLOWBRAND_WINE_ENV WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml,explorer.exe,winealsa.drv,winepulse.drv,wineoss.drv=)
set(CMAKE_CROSSCOMPILING_EMULATOR env ${GLOWBRAND_WINE_ENV} /usr/lib/wine/wine64)
