# IBM Z, 64-bit, big-endian, char unsigned: g++-s390x-linux-gnu, qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(RUNEKIT_CROSS_TRIPLET s390x-linux-gnu)
set(RUNEKIT_CROSS_MULTIARCH s390x-linux-gnu)
set(RUNEKIT_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
