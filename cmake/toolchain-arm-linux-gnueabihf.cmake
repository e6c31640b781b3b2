# Cross-building for 32-bit ARM with hardware floating point (armhf) with
# Debian's cross compiler and the multiarch armhf libraries
# (libcups2-dev:armhf ...).  The built tests run under qemu-user; -L / lets
# the emulator find the armhf loader and libraries where multiarch puts them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
# pkg-config looks only at the target's libraries, so that a library
# installed for the build machine alone (PAPPL, say) is not taken for one.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)
