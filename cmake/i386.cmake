# Native 32-bit x86 build on a 64-bit Debian host, through multiarch (g++-multilib and the
# :i386 development packages). Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/i386.cmake, or
# -DLAUNCHER_M32=ON. The programs run on the host itself, so tests need no emulator.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")

# Libraries and package configurations are then looked up in the lib/i386-linux-gnu
# directories only; the 64-bit ones under lib/x86_64-linux-gnu are never seen.
set(FIND_LIBRARY_USE_LIB64_PATHS OFF)

# pkg-config (libarchive for the packer) must read the i386 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
