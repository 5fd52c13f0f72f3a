# The second compiler: Debian's clang and lld against the mingw-w64 headers
# and libraries, and GCC's libstdc++ and libgcc, which clang 14 does not find
# in Debian's versioned folders by itself. GNU windres stays the resource
# compiler: llvm-windres rejects the ALT+ASCII accelerators.
set(gcc_dir /usr/lib/gcc/${MINGW_PREFIX}/12-win32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_SYSROOT /usr/${MINGW_PREFIX})
set(CMAKE_CXX_FLAGS_INIT "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/${MINGW_PREFIX}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir}")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-target.cmake)
