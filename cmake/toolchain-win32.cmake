# The product: 32-bit Windows. Built and linked only (no 32-bit wine here).
set(HX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
set(CMAKE_SYSTEM_PROCESSOR i686)
