# Cross-building for 64-bit ARM (arm64) with Debian's cross compiler and the
# multiarch arm64 libraries (libcups2-dev:arm64 ...).  The built tests run
# under qemu-user; -L / lets the emulator find the arm64 loader and
# libraries where multiarch puts them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /)
# pkg-config looks only at the target's libraries, so that a library
# installed for the build machine alone (PAPPL, say) is not taken for one.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
