# The win32 threading flavour: the product has one thread and wants no winpthread DLL.
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-target.cmake)
