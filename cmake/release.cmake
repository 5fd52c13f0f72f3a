# The release zip of one architecture: install() rules that CPack's ZIP
# generator stages, signs and sums (release-stage.cmake), then packs.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(release_arch win64)
else()
  set(release_arch win32)
endif()

# README.txt is the administrator's part of the README; both text files get
# CR LF line ends for Notepad and for quillset's own reader.
set(release_dir ${PROJECT_BINARY_DIR}/release)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/resources/kvconfig.txt)
file(READ ${PROJECT_SOURCE_DIR}/README.md readme)
string(FIND "${readme}" "## For the Windows administrator" start)
if(start LESS 0)
  message(FATAL_ERROR "README.md has no section \"For the Windows administrator\"")
endif()
string(SUBSTRING "${readme}" ${start} -1 readme)
string(FIND "${readme}" "\n## " end)
string(SUBSTRING "${readme}" 0 ${end} readme)
string(STRIP "${readme}" readme)
file(CONFIGURE OUTPUT ${release_dir}/README.txt CONTENT "quillset ${PROJECT_VERSION}\n\n${readme}\n"
  @ONLY NEWLINE_STYLE CRLF)
file(READ ${PROJECT_SOURCE_DIR}/resources/kvconfig.txt sample)
file(CONFIGURE OUTPUT ${release_dir}/kvconfig.txt CONTENT "${sample}" @ONLY NEWLINE_STYLE CRLF)

set(release_targets quillset qscapture)
if(TARGET qscheck)
  list(APPEND release_targets qscheck)
endif()
add_custom_target(release_files)
add_dependencies(release_files ${release_targets})

install(TARGETS ${release_targets} RUNTIME DESTINATION .)
install(FILES ${release_dir}/README.txt ${release_dir}/kvconfig.txt DESTINATION .)
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/release-stage.cmake)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME quillset-${PROJECT_VERSION}-${release_arch})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
