# Shared part of the toolchain files for Debian's cross compilers: the including
# file sets cross_triplet (the compiler's prefix and the target's sysroot below
# /usr), cross_processor and cross_qemu (the user-mode emulator that runs the
# target's programs here). The tests start the programs, and only those,
# through CMAKE_CROSSCOMPILING_EMULATOR; set it empty (-D...=) to run them
# directly where the kernel can: an i386 build on an amd64 kernel that runs
# 32-bit programs (most do; CONFIG_IA32_EMULATION), with the i386 C library
# installed (libc6-i386, and lib32stdc++6 for the tests' stand-in; see HACKING.md).
# Where the kernel cannot, the tests that run the programs skip and say why.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${cross_processor})
set(CMAKE_CXX_COMPILER ${cross_triplet}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${cross_triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The static emulator is started directly: a dynamically linked one, or a shell
# script around it, would itself take the target's LD_PRELOAD. Debian 12's
# qemu-user-static has it as qemu-ARCH-static (its qemu-user's qemu-ARCH is
# dynamically linked); Debian 13's qemu-user as qemu-ARCH, to which its
# transitional qemu-user-static adds the -static name.
find_program(cross_qemu_program NAMES ${cross_qemu}-static ${cross_qemu} NO_CACHE)
if(NOT cross_qemu_program)
    set(cross_qemu_program /usr/bin/${cross_qemu}-static)
endif()
set(cross_emulator ${cross_qemu_program} -L /usr/${cross_triplet})
# Target libraries that the sysroot lacks (the extrausers module, say) reach
# the emulated programs alone, through their own LD_LIBRARY_PATH: one folder,
# or several joined by ':'.
set(CROSS_LIBRARY_PATH "" CACHE STRING "Folders (joined by ':') of further target libraries for the emulated programs")
if(CROSS_LIBRARY_PATH)
    list(APPEND cross_emulator -E LD_LIBRARY_PATH=${CROSS_LIBRARY_PATH})
endif()
# The cross compiler's sysroot holds no character set converters, which the
# C library loads for every character set but UTF-8 and ISO-8859-1: the
# terminal rows in other character sets need the target's, the folder
# usr/lib/TRIPLET/gconv of its libc6 (TRIPLET its multiarch name, as
# arm-linux-gnueabihf or i386-linux-gnu), unpacked.
set(CROSS_GCONV_PATH "" CACHE PATH "The target's character set converters (usr/lib/TRIPLET/gconv of its libc6), for the emulated programs")
if(CROSS_GCONV_PATH)
    list(APPEND cross_emulator -E GCONV_PATH=${CROSS_GCONV_PATH})
endif()
# Made anew at each configure, so that a CROSS_LIBRARY_PATH or
# CROSS_GCONV_PATH given later holds too; one given with
# -DCMAKE_CROSSCOMPILING_EMULATOR=... (cached) wins.
if(NOT DEFINED CACHE{CMAKE_CROSSCOMPILING_EMULATOR})
    set(CMAKE_CROSSCOMPILING_EMULATOR "${cross_emulator}")
endif()
