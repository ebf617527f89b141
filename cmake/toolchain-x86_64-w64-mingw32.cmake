# The same, 64-bit: for wine64 on machines that cannot run 32-bit programs.
set(ORBEL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-cross.cmake)
