# Cross build for arm-linux-gnueabihf with Debian's g++-arm-linux-gnueabihf, run under qemu-arm (qemu-user-static on Debian 12, qemu-user on 13).
set(cross_triplet arm-linux-gnueabihf)
set(cross_processor armv7l)
set(cross_qemu qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
