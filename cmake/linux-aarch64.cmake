# 64-bit Arm Linux (Debian's arm64).
set(AGG_CROSS_TRIPLET aarch64-linux-gnu)
set(AGG_CROSS_PROCESSOR aarch64)
set(AGG_CROSS_QEMU aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
