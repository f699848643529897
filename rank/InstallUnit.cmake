# Run at install time (cmake --install, CPack): writes the systemd unit with the installed
# service's full path, the prefix given to the install rather than the one configured.
# Expects ZELKA_UNIT_TEMPLATE, ZELKA_UNIT_OUTPUT and ZELKA_BINDIR.
if(IS_ABSOLUTE "${ZELKA_BINDIR}")
  set(program "${ZELKA_BINDIR}/zelka-rank")
else()
  set(program "${CMAKE_INSTALL_PREFIX}/${ZELKA_BINDIR}/zelka-rank")
endif()
# systemd's quoting: the path in double quotes, with \ and " escaped; % is doubled.
string(REPLACE "\\" "\\\\" program "${program}")
string(REPLACE "\"" "\\\"" program "${program}")
string(REPLACE "%" "%%" program "${program}")
set(ZELKA_RANK_EXEC "\"${program}\"")
configure_file("${ZELKA_UNIT_TEMPLATE}" "${ZELKA_UNIT_OUTPUT}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/lib/systemd/system" TYPE FILE
     FILES "${ZELKA_UNIT_OUTPUT}")
