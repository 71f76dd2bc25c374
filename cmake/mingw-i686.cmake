# 32-bit Windows: the launcher's home. Its programs run here under Wine where the kernel runs
# 32-bit programs and the package wine32 is installed; tools/test finds out which, and turns
# SE_RUN_TESTS off where they cannot run.
set(SE_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-run)
