# Writes the menu entries at install time, when the installation prefix is
# known (cpack installs under a prefix of its own). ZARVIK_PACKAGING names
# the folder of the entries' templates.
#
# Exec= holds the starter's absolute path. A path with a blank or another
# reserved character is quoted as the desktop entry format asks: in double
# quotes, with ", `, $ and \ escaped by a backslash, and then, as in every
# string value of the file, each backslash doubled; "%" is written "%%".
set(zarvik_start "${CMAKE_INSTALL_PREFIX}/libexec/zarvik/start")
string(REPLACE "%" "%%" zarvik_start "${zarvik_start}")
if(zarvik_start MATCHES "[ \t\n\"'\\\\><~|&;$*?#()`]")
  string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" zarvik_start "${zarvik_start}")
  set(zarvik_start "\"${zarvik_start}\"")
endif()
string(REPLACE "\\" "\\\\" ZARVIK_START "${zarvik_start}")
foreach(program kelvane torrin)
  set(entry "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications/zarvik-${program}.desktop")
  message(STATUS "Installing: ${entry}")
  configure_file("${ZARVIK_PACKAGING}/${program}.desktop.in" "${entry}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${entry}")
endforeach()
