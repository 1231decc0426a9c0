# The Windows zip: both programs (linked statically, so nothing else is needed) and the texts,
# with Windows line ends so that Notepad shows them as written. Its README is a desktop
# user's, not the developers' README.md.
install(TARGETS Veltrane veltrane-cli RUNTIME DESTINATION .)
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME Veltrane-${PROJECT_VERSION}-win64)
