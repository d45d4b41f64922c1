# 32-bit ARM (ARMv7-A, hard float), built with Debian's cross compiler and run under qemu-arm.
set(CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
