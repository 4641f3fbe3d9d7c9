# Read by cpack for each generator: the zip unpacks into one folder named like
# itself, the installer puts the files straight into its installation folder.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
endif()
