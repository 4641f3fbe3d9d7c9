# Installing and packaging, all in one place:
#   cmake --install build --prefix DIR   any prefix; the programs find their
#                                        resources relative to themselves
#   cd build && cpack -G DEB             the Debian package zarvik_<version>_<arch>.deb
#   cd build-windows && cpack -G ZIP     the Windows zip (scripts/ci-windows makes it)
#
# Layout the programs rely on (host/paths.cpp): resources either in
# resources/ beside the program (build tree, Windows zip) or in
# <prefix>/share/zarvik with the program in <prefix>/bin.

set(CPACK_PACKAGE_NAME zarvik)
set(CPACK_PACKAGE_VENDOR "Zarvik")
# The package's maintainer: the Maintainer field, the copyright file's
# contact and the changelog's signature.
set(ZARVIK_MAINTAINER "Zarvik maintainers <maintainers@users.noreply.c-seed-ab2ff89f.example>"
    CACHE STRING "Name and mail address of the package's maintainer")
set(CPACK_PACKAGE_CONTACT "${ZARVIK_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "file check, incremental backup and incremental copy tools (kelvane, torrin)")
set(CPACK_PACKAGE_DESCRIPTION
    "kelvane checks two folders or name lists against each other and copies what\n\
the target lacks; torrin copies every file changed after a threshold time from\n\
several source folders into one target, from its window or unattended\n\
(torrin exit) from cron or a systemd timer.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # The zip holds the two programs at its top with resources\ beside them, as
  # the build tree does, a README.txt and an example confi9.ini.
  install(TARGETS kelvane torrin RUNTIME DESTINATION .)
  if(WITH_GUI)
    install(TARGETS torrin_window LIBRARY DESTINATION . RUNTIME DESTINATION .)
  endif()
  install(FILES ${ZARVIK_RESOURCES} DESTINATION resources)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/confi9.ini DESTINATION example)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/THIRD-PARTY.txt DESTINATION .)
  if(WITH_GUI)
    # Only what the windows load: Core, Gui and Widgets, the MinGW runtime
    # they were built with, the Windows display plugin, the Windows style and
    # the .ico reader (the window icons). Qt looks for plugins beside the program.
    get_filename_component(ZARVIK_QT_PREFIX "${Qt6_DIR}/../../.." ABSOLUTE)
    install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
                  ${ZARVIK_QT_PREFIX}/bin/libstdc++-6.dll ${ZARVIK_QT_PREFIX}/bin/libgcc_s_seh-1.dll
                  ${ZARVIK_QT_PREFIX}/bin/libwinpthread-1.dll
            DESTINATION .)
    install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms)
    install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles)
    install(FILES $<TARGET_FILE:Qt6::QICOPlugin> DESTINATION imageformats)
    # Qt's licences, where its source comes from and the recipe that built it.
    install(FILES ${ZARVIK_QT_PREFIX}/LICENSES/LGPL-3.0-only.txt
                  ${ZARVIK_QT_PREFIX}/LICENSES/GPL-3.0-only.txt
                  ${ZARVIK_QT_PREFIX}/LICENSES/Qt-GPL-exception-1.0.txt
            DESTINATION licenses/qt)
    if(EXISTS ${ZARVIK_QT_PREFIX}/build.sh)
      install(PROGRAMS ${ZARVIK_QT_PREFIX}/build.sh DESTINATION licenses/qt)
    endif()
    foreach(package gcc-mingw-w64-base mingw-w64-common)
      if(EXISTS /usr/share/doc/${package}/copyright)
        install(FILES /usr/share/doc/${package}/copyright DESTINATION licenses/mingw-w64
                RENAME ${package}.txt)
      endif()
    endforeach()
  endif()
  if(WITH_SPREADSHEETS AND ZARVIK_LIBRARY_LICENSES)
    # zlib, libzip, expat, libxlsxwriter: built by scripts/windows-libs.
    install(DIRECTORY ${ZARVIK_LIBRARY_LICENSES}/ DESTINATION licenses)
  endif()
  set(CPACK_GENERATOR ZIP NSIS)
  set(CPACK_PACKAGE_FILE_NAME "zarvik-${PROJECT_VERSION}-windows-x64")
  # The installer (cpack -G NSIS, Debian's nsis) comes from our own template,
  # packaging/windows/NSIS.template.in: CPack's stock one asks for an
  # administrator and puts the Start-menu entries in the all-users Start menu.
  # Ours installs for the current user only, into
  # %LOCALAPPDATA%\Programs\Zarvik, with Start-menu entries that start both
  # programs in %USERPROFILE%\zarvik, where they keep confi9.ini and log.txt.
  set(CPACK_MODULE_PATH ${CMAKE_SOURCE_DIR}/packaging/windows ${CMAKE_MODULE_PATH})
  set(CPACK_NSIS_COMPRESSOR lzma)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "Zarvik")
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Zarvik")
  set(CPACK_NSIS_PACKAGE_NAME "Zarvik")
  set(CPACK_NSIS_DISPLAY_NAME "Zarvik ${PROJECT_VERSION}")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/packaging/windows/cpack-generators.cmake)
  include(CPack)
  return()
endif()

install(TARGETS kelvane torrin RUNTIME DESTINATION bin)
if(WITH_GUI)
  # torrin's window, loaded when it opens (torrin/window_loader.cpp).
  install(TARGETS torrin_window LIBRARY DESTINATION ${ZARVIK_PRIVATE_LIBDIR})
endif()
install(FILES ${ZARVIK_RESOURCES} DESTINATION share/zarvik)

# Manual pages carry the project's version and are installed compressed, as
# Debian's policy asks; so are the changelog and the copyright file the
# package's documentation folder must hold.
string(TIMESTAMP ZARVIK_MAN_DATE "%Y-%m-%d" UTC)
string(TIMESTAMP ZARVIK_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP ZARVIK_COPYRIGHT_YEARS "%Y" UTC)
set(ZARVIK_LICENSE_NAME "other")
set(ZARVIK_LICENSE_TEXT " No licence has been published for Zarvik; its developers reserve all rights.")
configure_file(${CMAKE_SOURCE_DIR}/packaging/copyright.in ${CMAKE_BINARY_DIR}/doc/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright DESTINATION share/doc/zarvik)
find_program(ZARVIK_GZIP gzip REQUIRED)
set(compressed ${CMAKE_BINARY_DIR}/doc/changelog.gz)
foreach(program kelvane torrin)
  configure_file(${CMAKE_SOURCE_DIR}/docs/man/${program}.1.in ${CMAKE_BINARY_DIR}/man/${program}.1
                 @ONLY)
  list(APPEND compressed ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1.gz DESTINATION share/man/man1)
endforeach()
foreach(file ${compressed})
  string(REGEX REPLACE "\\.gz$" "" plain ${file})
  # -n: no name or time stamp inside, so the same page gives the same bytes.
  add_custom_command(OUTPUT ${file} COMMAND ${ZARVIK_GZIP} -9nkf ${plain} DEPENDS ${plain}
                     VERBATIM)
endforeach()
add_custom_target(compressed_documents ALL DEPENDS ${compressed})
install(FILES ${CMAKE_BINARY_DIR}/doc/changelog.gz DESTINATION share/doc/zarvik)

# Menu entries: both programs start in the per-user folder ~/zarvik through a
# small starter, so the window finds the same confi9.ini and log.txt as the
# scheduled `torrin exit`. The entries need the starter's absolute path, which
# is only known at install time (cpack installs with its own prefix);
# packaging/desktop-entries.cmake writes them then.
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/start-in-folder DESTINATION libexec/zarvik
        RENAME start)
install(CODE "set(ZARVIK_PACKAGING \"${CMAKE_SOURCE_DIR}/packaging\")")
install(SCRIPT ${CMAKE_SOURCE_DIR}/packaging/desktop-entries.cmake)
# Each entry its own icon: kelvane's is the hand of its window, torrin's a
# page copied (scripts/make_icons.py draws both).
foreach(size 16 32 48 64)
  foreach(program_icon kelvane:hand torrin:copier)
    string(REPLACE ":" ";" program_icon ${program_icon})
    list(GET program_icon 0 program)
    list(GET program_icon 1 icon)
    install(FILES ${CMAKE_SOURCE_DIR}/packaging/icons/${icon}-${size}.png
            DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME zarvik-${program}.png)
  endforeach()
endforeach()

install(FILES ${CMAKE_SOURCE_DIR}/docs/scheduling.md ${CMAKE_SOURCE_DIR}/docs/systemd/torrin-exit.service
              ${CMAKE_SOURCE_DIR}/docs/systemd/torrin-exit.timer DESTINATION share/doc/zarvik)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the libraries' dependencies cannot show: the Chinese font, Qt's display
# plugins (without them the window cannot open) and xdg-open, which opens
# files and folders.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei, qt6-qpa-plugins, xdg-utils")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/packaging/deb-generator.cmake)
include(CPack)
