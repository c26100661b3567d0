# Cross build for i686-linux-gnu with Debian's g++-i686-linux-gnu, run under qemu-i386 (qemu-user-static on Debian 12, qemu-user on 13).
set(cross_triplet i686-linux-gnu)
set(cross_processor i686)
set(cross_qemu qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
