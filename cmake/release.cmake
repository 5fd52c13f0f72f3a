# The release zip of one architecture: install() rules that CPack's ZIP
# generator stages, signs and sums (release-stage.cmake), then packs.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(release_arch win64)
else()
  set(release_arch win32)
endif()

# README.txt is the administrator's guide and the message reference; both
# text files get CR LF line ends for Notepad and for quillset's own reader.
set(release_dir ${PROJECT_BINARY_DIR}/release)
set(release_docs ${PROJECT_SOURCE_DIR}/docs/administrators.md ${PROJECT_SOURCE_DIR}/docs/messages.md)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${release_docs} ${PROJECT_SOURCE_DIR}/resources/kvconfig.txt)
set(readme "")
foreach(doc IN LISTS release_docs)
  file(READ ${doc} text)
  string(STRIP "${text}" text)
  string(APPEND readme "\n\n${text}")
endforeach()
# Both pages are in the one file: a link to the other page's heading becomes
# a link within it, and one to a page its first heading.
string(REGEX REPLACE "\\]\\((administrators|messages)\\.md#" "](#" readme "${readme}")
string(REPLACE "](messages.md)" "](#quillsets-messages)" readme "${readme}")
string(REPLACE "](administrators.md)" "](#quillset-for-the-windows-administrator)" readme "${readme}")
file(CONFIGURE OUTPUT ${release_dir}/README.txt CONTENT "quillset ${PROJECT_VERSION}${readme}\n"
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
