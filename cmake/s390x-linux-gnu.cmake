# Cross build for s390x-linux-gnu with Debian's g++-s390x-linux-gnu, run under qemu-s390x-static.
set(cross_triplet s390x-linux-gnu)
set(cross_processor s390x)
set(cross_qemu qemu-s390x-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
