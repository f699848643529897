# Run at install time (cmake --install, CPack): writes the desktop entry with the installed
# program's full path, so the menu starts it whether or not the prefix's bin is on PATH.
# Expects ZELKA_DESKTOP_TEMPLATE, ZELKA_DESKTOP_OUTPUT, ZELKA_BINDIR and ZELKA_DATADIR.
if(IS_ABSOLUTE "${ZELKA_BINDIR}")
  set(program "${ZELKA_BINDIR}/zelka")
else()
  set(program "${CMAKE_INSTALL_PREFIX}/${ZELKA_BINDIR}/zelka")
endif()
# The Exec key's quoting: a path with a reserved character is quoted, ", `, $ and \ inside the
# quotes get a backslash, and the key's own escaping doubles every backslash; % is doubled.
if(program MATCHES "[^A-Za-z0-9/._+-]")
  string(REPLACE "\\" "\\\\" quoted "${program}")
  string(REPLACE "\"" "\\\"" quoted "${quoted}")
  string(REPLACE "`" "\\`" quoted "${quoted}")
  string(REPLACE "$" "\\$" quoted "${quoted}")
  string(REPLACE "\\" "\\\\" quoted "${quoted}")
  set(program "\"${quoted}\"")
endif()
string(REPLACE "%" "%%" ZELKA_DESKTOP_EXEC "${program}")
configure_file("${ZELKA_DESKTOP_TEMPLATE}" "${ZELKA_DESKTOP_OUTPUT}" @ONLY)
if(IS_ABSOLUTE "${ZELKA_DATADIR}")
  set(applications "${ZELKA_DATADIR}/applications")
else()
  set(applications "${CMAKE_INSTALL_PREFIX}/${ZELKA_DATADIR}/applications")
endif()
file(INSTALL DESTINATION "${applications}" TYPE FILE FILES "${ZELKA_DESKTOP_OUTPUT}")
