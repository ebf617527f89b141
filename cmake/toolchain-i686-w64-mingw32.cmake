# The 32-bit Windows deliverables, as the service PCs load them.
set(ORBEL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-cross.cmake)
