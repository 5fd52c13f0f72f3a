# The second compiler: Debian's clang and lld against the mingw-w64 headers
# and libraries, and GCC's libstdc++ and libgcc, which clang does not find in
# Debian's versioned folders by itself. GNU windres stays the resource
# compiler: llvm-windres rejects the ALT+ASCII accelerators.
# GCC's folder is named after its version (12-win32 on Debian 12, 14-win32 on
# Debian 13): ask the installed mingw compiler where its libgcc is.
execute_process(COMMAND ${MINGW_PREFIX}-gcc-win32 -print-libgcc-file-name
  OUTPUT_VARIABLE libgcc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
if(failed OR NOT EXISTS "${libgcc}")
  message(FATAL_ERROR "${MINGW_PREFIX}-gcc-win32 does not say where its libgcc is: install g++-mingw-w64")
endif()
get_filename_component(gcc_dir "${libgcc}" DIRECTORY)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${MINGW_PREFIX})
set(CMAKE_SYSROOT /usr/${MINGW_PREFIX})
set(CMAKE_CXX_FLAGS_INIT "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/${MINGW_PREFIX}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir}")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-target.cmake)
