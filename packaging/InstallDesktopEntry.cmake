# Run by `cmake --install`: writes the desktop entry with the installed program's absolute path, which is
# known only now (`cmake --install --prefix` may choose another prefix than the one configured).
# Expects TARNWICK_DESKTOP_TEMPLATE, TARNWICK_DESKTOP_OUTPUT and TARNWICK_INSTALL_BINDIR.

cmake_path(ABSOLUTE_PATH TARNWICK_INSTALL_BINDIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" OUTPUT_VARIABLE bindir)
set(program "${bindir}/tarnwick")

# One Exec argument: quoted, with the characters special inside quotes escaped and "%" doubled, then
# escaped once more as the entry's string value (a backslash doubled).
string(REPLACE "\\" "\\\\\\\\" quoted "${program}")
string(REPLACE "\"" "\\\\\"" quoted "${quoted}")
string(REPLACE "$" "\\\\$" quoted "${quoted}")
string(REPLACE "`" "\\\\`" quoted "${quoted}")
string(REPLACE "%" "%%" quoted "${quoted}")
if(program MATCHES "[] \t\n\"'\\><~|&;$*?#()`[]")
  set(TARNWICK_APP_EXEC "\"${quoted}\"")
else()
  set(TARNWICK_APP_EXEC "${quoted}")
endif()
string(REPLACE "\\" "\\\\" TARNWICK_APP_TRYEXEC "${program}")
configure_file("${TARNWICK_DESKTOP_TEMPLATE}" "${TARNWICK_DESKTOP_OUTPUT}" @ONLY)
file(INSTALL "${TARNWICK_DESKTOP_OUTPUT}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${TARNWICK_INSTALL_DATADIR}/applications")
