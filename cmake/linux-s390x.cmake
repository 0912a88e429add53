# IBM Z Linux (Debian's s390x), the big-endian one.
set(AGG_CROSS_TRIPLET s390x-linux-gnu)
set(AGG_CROSS_PROCESSOR s390x)
set(AGG_CROSS_QEMU s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
