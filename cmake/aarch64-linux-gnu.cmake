# Cross build for aarch64-linux-gnu with Debian's g++-aarch64-linux-gnu, run under qemu-aarch64 (qemu-user-static on Debian 12, qemu-user on 13).
set(cross_triplet aarch64-linux-gnu)
set(cross_processor aarch64)
set(cross_qemu qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
