# Shared part of the toolchain files in this folder: a Debian cross compiler
# (g++-<triplet>) for RUNEKIT_CROSS_TRIPLET, the target's own libraries
# (GoogleTest, Highway) from Debian's multiarch packages (libgtest-dev:<arch>
# and so on, under /usr/lib/<multiarch>), and every target program run under
# qemu-user, with the cross compiler's run-time libraries.
#
# The including file sets RUNEKIT_CROSS_TRIPLET (compiler prefix),
# RUNEKIT_CROSS_MULTIARCH (Debian's library folder) and RUNEKIT_CROSS_QEMU
# (the qemu-user program).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${RUNEKIT_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${RUNEKIT_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${RUNEKIT_CROSS_MULTIARCH})

# Headers and libraries: the cross compiler's own folder first, then the
# multiarch folders of the host; programs (python3, localedef, xgettext)
# always from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${RUNEKIT_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# No binfmt registration is needed: the emulator is named on every command.
# -L gives it the cross C library's loader; the loader is told the same
# folder, because /etc/ld.so.cache lists the multiarch C library of the same
# processor (a different build of it) once a libgtest-dev:<arch> is installed.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${RUNEKIT_CROSS_QEMU} -L /usr/${RUNEKIT_CROSS_TRIPLET}
    -E LD_LIBRARY_PATH=/usr/${RUNEKIT_CROSS_TRIPLET}/lib)
# The emulator's option that sets a variable for the program alone (the
# tests pass the loader's variables, such as LD_PRELOAD, that way).
set(RUNEKIT_EMULATOR_ENV_OPTION -E)
