# 32-bit x86 (i686, x87 floating point, 32-bit long and pointers):
# g++-i686-linux-gnu, run under qemu-i386.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(RUNEKIT_CROSS_TRIPLET i686-linux-gnu)
set(RUNEKIT_CROSS_MULTIARCH i386-linux-gnu)
set(RUNEKIT_CROSS_QEMU qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
