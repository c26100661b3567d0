# Cross build for arm-linux-gnueabihf with Debian's g++-arm-linux-gnueabihf, run under qemu-arm-static.
set(cross_triplet arm-linux-gnueabihf)
set(cross_processor armv7l)
set(cross_qemu qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
