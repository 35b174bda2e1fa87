# 64-bit Arm, little-endian, char unsigned: g++-aarch64-linux-gnu, qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(RUNEKIT_CROSS_TRIPLET aarch64-linux-gnu)
set(RUNEKIT_CROSS_MULTIARCH aarch64-linux-gnu)
set(RUNEKIT_CROSS_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
