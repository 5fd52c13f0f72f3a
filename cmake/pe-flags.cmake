# Link and compile settings shared by every exe, whichever compiler builds it.

# ASLR, DEP and Remote Desktop awareness for every exe. Without TSAWARE a
# program on a Remote Desktop host gets a private per-user Windows directory,
# where no settings file is found.
add_link_options(-Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_link_options(-Wl,--high-entropy-va)
  set(pe_min_windows 6 0)
else()
  # Nothing here registers structured exception handlers.
  add_link_options(-Wl,--no-seh)
  set(pe_min_windows 5 1)
endif()

# The oldest Windows each build is for, XP (5.1) on i686 and Vista (6.0) on
# x86_64, as the loader reads it from the header: lld would otherwise write
# 6.0, which XP refuses to load.
list(GET pe_min_windows 0 major)
list(GET pe_min_windows 1 minor)
foreach(field os subsystem)
  add_link_options(-Wl,--major-${field}-version,${major} -Wl,--minor-${field}-version,${minor})
endforeach()

# Symbols are of no use on the machines the exes are deployed to.
add_link_options($<$<CONFIG:Release>:-s>)

# Same bytes from any build folder at any time: no link time stamp, no
# build paths.
add_link_options(-Wl,--no-insert-timestamp)
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${PROJECT_BINARY_DIR}=.)

# msvcrt's printf instead of mingw's own engine, which would be most of the
# exe's code; its snprintf wrappers still cut long text and terminate it.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=0)
