# Cross-compiles for 64-bit Windows with Debian's mingw-w64 compilers.
# Used to build Qt (scripts/build-qt-windows) and then the program itself,
# through that Qt's qt-cmake or -DCMAKE_TOOLCHAIN_FILE.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)

# The -posix variants, not the -win32 ones: in GCC 12 only they have std::thread,
# std::mutex and std::condition_variable, which Qt and the program use.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Headers, libraries and CMake packages come only from the Windows side, so
# the host's Qt or zlib can never be linked into a Windows binary by mistake;
# programs (moc, rcc, uic) still come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
