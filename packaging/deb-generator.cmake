# Read by cpack before it makes the Debian package. Without dpkg-shlibdeps
# (and the file tool it runs) cpack still makes a package, but one without
# the libraries' dependencies, which installs cleanly and then cannot start.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(ZARVIK_SHLIBDEPS dpkg-shlibdeps)
  find_program(ZARVIK_FILE file)
  if(NOT ZARVIK_SHLIBDEPS OR NOT ZARVIK_FILE)
    message(FATAL_ERROR "cpack -G DEB needs dpkg-shlibdeps and file to list the libraries "
                        "the programs need: apt install dpkg-dev file (bash scripts/test "
                        "installs them)")
  endif()
endif()
