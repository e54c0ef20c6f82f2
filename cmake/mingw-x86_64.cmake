# 64-bit Windows, for machines that run no 32-bit code (tools/arch.sh).
set(MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
