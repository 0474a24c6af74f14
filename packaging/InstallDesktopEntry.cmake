# Run by `cmake --install`: writes the desktop entry with the installed program's absolute path, which is
# known only now (`cmake --install --prefix` may choose another prefix than the one configured).
# Expects TARNWICK_DESKTOP_TEMPLATE, TARNWICK_DESKTOP_OUTPUT, TARNWICK_EXEC_ARGUMENT (the tool that quotes
# an Exec argument), TARNWICK_INSTALL_BINDIR and TARNWICK_INSTALL_DATADIR.

cmake_path(ABSOLUTE_PATH TARNWICK_INSTALL_BINDIR BASE_DIRECTORY "${CMAKE_INSTALL_PREFIX}" OUTPUT_VARIABLE bindir)
set(program "${bindir}/tarnwick")

execute_process(COMMAND "${TARNWICK_EXEC_ARGUMENT}" "${program}"
                OUTPUT_VARIABLE TARNWICK_APP_EXEC RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TARNWICK_EXEC_ARGUMENT} could not quote ${program}: ${status}")
endif()
# TryExec is a plain string value, in which a backslash is written doubled.
string(REPLACE "\\" "\\\\" TARNWICK_APP_TRYEXEC "${program}")
configure_file("${TARNWICK_DESKTOP_TEMPLATE}" "${TARNWICK_DESKTOP_OUTPUT}" @ONLY)
file(INSTALL "${TARNWICK_DESKTOP_OUTPUT}" DESTINATION "${CMAKE_INSTALL_PREFIX}/${TARNWICK_INSTALL_DATADIR}/applications")
