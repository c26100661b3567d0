# Cross build for s390x-linux-gnu with Debian's g++-s390x-linux-gnu, run under qemu-s390x (qemu-user-static on Debian 12, qemu-user on 13).
set(cross_triplet s390x-linux-gnu)
set(cross_processor s390x)
set(cross_qemu qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
