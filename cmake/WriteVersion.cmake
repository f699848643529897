# Writes the program's version text into a source file: the project's version, and the
# checkout's `git describe` where the source is a git checkout with git at hand. Run at
# configure time and again at every build, so a tree that is only rebuilt tells the commit it
# was built from; the file is rewritten only when the text changes, so nothing relinks
# otherwise.
# In: ZELKA_SOURCE_DIR, ZELKA_PROJECT_VERSION, ZELKA_BUILD_TYPE_TEXT, ZELKA_VERSION_INPUT,
#     ZELKA_VERSION_OUTPUT, GIT_EXECUTABLE (may be empty).
set(ZELKA_VERSION_TEXT ${ZELKA_PROJECT_VERSION})
if(GIT_EXECUTABLE)
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty
                  WORKING_DIRECTORY ${ZELKA_SOURCE_DIR}
                  OUTPUT_VARIABLE ZELKA_GIT_DESCRIBE OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE ZELKA_GIT_RESULT ERROR_QUIET)
  if(ZELKA_GIT_RESULT EQUAL 0 AND ZELKA_GIT_DESCRIBE)
    set(ZELKA_VERSION_TEXT "${ZELKA_PROJECT_VERSION} (${ZELKA_GIT_DESCRIBE})")
  endif()
endif()
configure_file(${ZELKA_VERSION_INPUT} ${ZELKA_VERSION_OUTPUT} @ONLY)
