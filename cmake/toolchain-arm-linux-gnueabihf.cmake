# Cross-building for 32-bit ARM with hardware floating point (armhf) with
# Debian's cross compiler and the multiarch armhf libraries
# (libcups2-dev:armhf ...).  The built tests run under qemu-user; -L / lets
# the emulator find the armhf loader and libraries where multiarch puts them.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
