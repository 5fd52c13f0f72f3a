# What both compilers share: GNU binutils for the target, and the mingw-w64
# headers and libraries as the only place to look for them.
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)
set(CMAKE_MC_COMPILER ${MINGW_PREFIX}-windmc)
set(CMAKE_OBJDUMP ${MINGW_PREFIX}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
