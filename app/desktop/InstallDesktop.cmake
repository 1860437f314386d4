# Runs at install time, after the files are copied: the command on the PATH,
# the common/ and demo/ folders, the desktop entry naming the installed
# program, and (into a live prefix, not a staging DESTDIR) the desktop's MIME
# and application databases, so the file manager knows "*.usb" at once.
set(prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

# common/ is empty until the user adds usb.ids, the analyser's device.rvs or
# the help file; demo/ holds the demonstration projects the build recorded.
file(MAKE_DIRECTORY "${prefix}/${ORVANE_INSTALL_ROOT}/common" "${prefix}/${ORVANE_INSTALL_ROOT}/demo")

# The program finds its plug-ins from its real path, so a link on the PATH serves.
file(MAKE_DIRECTORY "${prefix}/${ORVANE_BINDIR}")
foreach(program orvane orvane-probe)
  file(RELATIVE_PATH target "/root/${ORVANE_BINDIR}" "/root/${ORVANE_INSTALL_BIN}/${program}")
  file(CREATE_LINK "${target}" "${prefix}/${ORVANE_BINDIR}/${program}" SYMBOLIC)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${prefix}/${ORVANE_BINDIR}/${program}")
endforeach()

# Exec names the program by its absolute path: a prefix need not be on the
# PATH. A path with characters the desktop entry reserves is quoted.
set(ORVANE_TRY_EXEC "${CMAKE_INSTALL_PREFIX}/${ORVANE_BINDIR}/orvane")
set(ORVANE_EXEC "${ORVANE_TRY_EXEC}")
if(ORVANE_EXEC MATCHES "[^A-Za-z0-9_./+,:@-]")
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" ORVANE_EXEC "${ORVANE_EXEC}")
  string(REPLACE "\\" "\\\\" ORVANE_EXEC "${ORVANE_EXEC}")
  set(ORVANE_EXEC "\"${ORVANE_EXEC}\"")
endif()
set(entry "${prefix}/${ORVANE_DATADIR}/applications/orvane.desktop")
message(STATUS "Installing: ${entry}")
configure_file("${ORVANE_DESKTOP_SOURCE}/orvane.desktop.in" "${entry}" @ONLY)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")

if("$ENV{DESTDIR}" STREQUAL "")
  find_program(update_mime update-mime-database)
  find_program(update_desktop update-desktop-database)
  if(update_mime)
    execute_process(COMMAND "${update_mime}" "${prefix}/${ORVANE_DATADIR}/mime")
  endif()
  if(update_desktop)
    execute_process(COMMAND "${update_desktop}" -q "${prefix}/${ORVANE_DATADIR}/applications")
  endif()
endif()
