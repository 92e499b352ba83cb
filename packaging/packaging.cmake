# Manual pages, documents and the Debian package.
#
# The manual pages are made at build time by help2man from the programs' own --help and --version, so
# they never drift from the programs; `cpack -G DEB` in a release build tree then makes
# quarnel_<version>_<arch>.deb with both programs, the menu entry, the icon, the manual pages, the
# README and the licence.
include(GNUInstallDirs)

set(QUARNEL_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUARNEL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/quarnel)

# The manual page of one program, compressed as Debian installs them.
function(quarnel_add_manual_page target description)
  set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
  set(extra ${QUARNEL_PACKAGING_DIR}/${target}.h2m)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    # The programs' sanitizer builds must not report at exit while help2man reads them.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            ${QUARNEL_HELP2MAN} --no-info --section=1 --name=${description} --include=${extra}
            --output=${page} $<TARGET_FILE:${target}>
    COMMAND gzip -9nf ${page}
    DEPENDS ${target} ${extra}
    COMMENT "Manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}_manual_page ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

find_program(QUARNEL_HELP2MAN help2man)
if(TARGET quarnel AND TARGET quarnel-decode)
  if(QUARNEL_HELP2MAN)
    quarnel_add_manual_page(quarnel "turn a webcam into a Data Matrix keyboard")
    quarnel_add_manual_page(quarnel-decode "decode the Data Matrix symbols in image files")
  else()
    message(WARNING "help2man not found: the manual pages are not built")
  endif()
endif()

# Documents: the README, the licence in Debian's copyright format, and the change log.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${QUARNEL_DOC_DIR})
# The README links the developers' documents; they go beside it so that the links hold.
file(GLOB QUARNEL_DEVELOPER_DOCS ${PROJECT_SOURCE_DIR}/docs/*.md)
install(FILES ${QUARNEL_DEVELOPER_DOCS} DESTINATION ${QUARNEL_DOC_DIR}/docs)
install(FILES ${QUARNEL_PACKAGING_DIR}/copyright DESTINATION ${QUARNEL_DOC_DIR})
set(QUARNEL_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
add_custom_command(
  OUTPUT ${QUARNEL_CHANGELOG}
  COMMAND gzip -9nc ${QUARNEL_PACKAGING_DIR}/changelog > ${QUARNEL_CHANGELOG}
  DEPENDS ${QUARNEL_PACKAGING_DIR}/changelog
  VERBATIM)
add_custom_target(quarnel_changelog ALL DEPENDS ${QUARNEL_CHANGELOG})
install(FILES ${QUARNEL_CHANGELOG} DESTINATION ${QUARNEL_DOC_DIR})

# Everything the programs' folders install (a udev rule among it, where one exists) goes with the
# package as well: the package holds the whole install.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quarnel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Quarnel developers")
set(CPACK_PACKAGE_CONTACT "Quarnel developers <maintainers@quarnel.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "webcam Data Matrix keyboard")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# CPack puts the summary above in the control file's first description line; these lines follow it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Quarnel watches a webcam, reads the Data Matrix (ECC 200) symbols in view\n\
and types the text of the first one, followed by Return, Tab or nothing,\n\
into the application that has the keyboard focus, as a hardware scanner\n\
would. A beep confirms each read and a small always-on-top window shows\n\
the picture with every symbol outlined. The package also holds\n\
quarnel-decode, which decodes the symbols in image files.")
include(CPack)
