# Installation and the Debian package (cmake --install; cpack -G DEB): the command line and the
# simulator, their man pages, the examples and the udev rule for the maker's USB cable.
# Linux only: the Windows programs ship as a zip made by tools/release.sh.
if(WIN32)
  return()
endif()
include(GNUInstallDirs)

set(installed_programs)
foreach(program loadwing loadwing-sim)
  if(TARGET ${program})
    list(APPEND installed_programs ${program})
  endif()
endforeach()
install(TARGETS ${installed_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/loadwing)
install(FILES examples/README.md examples/module3.mot examples/webc.mot examples/can_module.mot
              examples/main_controller.hex
        DESTINATION ${doc_dir}/examples)
# libftdi (loadwing --usb) reaches the cable through its USB device node.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-loadwing-ftdi.rules DESTINATION lib/udev/rules.d)

# Dates written into the package (man pages, changelog): the commit's when tools/release.sh sets
# SOURCE_DATE_EPOCH, so that two builds of one commit are the same bytes.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(build_epoch $ENV{SOURCE_DATE_EPOCH})
else()
  string(TIMESTAMP build_epoch "%s" UTC)
endif()

# Man pages made from the programs' --help (help2man); gzip -n writes no name or time.
find_program(HELP2MAN help2man)
find_program(GZIP gzip)
if(HELP2MAN AND GZIP)
  set(names_loadwing "flash firmware into a folding machine's controllers")
  set(names_loadwing-sim "simulated folding machine on a pseudo-terminal, for trying loadwing")
  # The command line's page holds every command's help, from its command table.
  set(help_option_loadwing --help-all)
  set(help_option_loadwing-sim --help)
  set(man_pages)
  foreach(program ${installed_programs})
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${program}.1)
    add_custom_command(
      OUTPUT ${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${build_epoch} LC_ALL=C.UTF-8
              ${HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
              --help-option=${help_option_${program}}
              --name=${names_${program}} --output=${page} $<TARGET_FILE:${program}>
      COMMAND ${GZIP} -9nf ${page}
      DEPENDS ${program}
      COMMENT "Man page of ${program}"
      VERBATIM)
    list(APPEND man_pages ${page}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(STATUS "help2man or gzip missing: no man pages (tools/install_deps.sh release)")
endif()

# What Debian asks of every package's documentation folder (a native package: changelog.gz).
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/debian-doc/changelog)
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND date -u -R -d @${build_epoch} OUTPUT_VARIABLE changelog_date
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
set(LOADWING_PACKAGE_MAINTAINER "Loadwing developers <loadwing@example.org>" CACHE STRING
    "Maintainer named in the Debian package")
file(WRITE ${changelog}
  "loadwing (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
  "  * Release ${PROJECT_VERSION}.\n\n"
  " -- ${LOADWING_PACKAGE_MAINTAINER}  ${changelog_date}\n")
add_custom_command(
  OUTPUT ${changelog}.gz
  COMMAND ${GZIP} -9nkf ${changelog}
  DEPENDS ${changelog}
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${changelog}.gz)
install(FILES ${changelog}.gz ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${doc_dir})

set(CPACK_PACKAGE_NAME loadwing)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Loadwing developers")
set(CPACK_PACKAGE_CONTACT "${LOADWING_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "flash firmware into a folding machine's controllers")
set(CPACK_PACKAGE_DESCRIPTION
    "Loadwing writes new firmware (Intel HEX or Motorola S-records) into the
controllers of a Fanfolder/Crossfolder folding machine over a serial port or
the maker's FTDI USB cable. The package holds the command line (loadwing) and
a simulated machine (loadwing-sim) for trying it without a machine, with
examples.")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Bound at run time for the cable (--usb), not linked.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libftdi1-2")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
