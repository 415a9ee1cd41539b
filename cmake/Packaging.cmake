# The Debian package: `cmake --build --preset default --target package` makes
# kelm-utility_<version>_<arch>.deb with the four programs, the desktop
# entry and its icons, the AppStream metadata, the manual pages and the
# copyright and changelog files. Its version is project(VERSION).
#
# Only a plain build is packaged: a sanitized program is no product, and
# without the GUI there is no kelm-utility to package.
if(KELM_SANITIZE OR NOT TARGET kelm-utility)
  return()
endif()

include(GNUInstallDirs)
set(KELM_APP_ID com.kelm_io.kelm_utility)
set(KELM_PKG_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KELM_PKG_OUT ${PROJECT_BINARY_DIR}/packaging)
set(KELM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kelm-utility)

# A release needs its changelog entry and its AppStream release note: a
# version bump without them would ship a package that contradicts itself.
file(STRINGS ${KELM_PKG_DIR}/changelog KELM_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT KELM_CHANGELOG_TOP MATCHES "^kelm-utility \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/changelog: the first entry must be version ${PROJECT_VERSION}, "
                      "found: ${KELM_CHANGELOG_TOP}")
endif()
file(READ ${KELM_PKG_DIR}/${KELM_APP_ID}.metainfo.xml KELM_METAINFO)
if(NOT KELM_METAINFO MATCHES "<release version=\"${PROJECT_VERSION}\"")
  message(FATAL_ERROR "packaging/${KELM_APP_ID}.metainfo.xml: no release ${PROJECT_VERSION}")
endif()

# Manual pages and the changelog are installed compressed, as Debian wants them
# (gzip -9 -n: best compression, no name or time stamp, so that the package
# does not change from build to build).
set(KELM_PKG_GZ)
foreach(prog kelm-utility kelm kelm-sim kelm-ports)
  configure_file(${KELM_PKG_DIR}/man/${prog}.1.in ${KELM_PKG_OUT}/${prog}.1 @ONLY)
  list(APPEND KELM_PKG_GZ ${prog}.1)
endforeach()
configure_file(${KELM_PKG_DIR}/changelog ${KELM_PKG_OUT}/changelog COPYONLY)
list(APPEND KELM_PKG_GZ changelog)
set(KELM_PKG_GZ_FILES)
foreach(f ${KELM_PKG_GZ})
  add_custom_command(OUTPUT ${KELM_PKG_OUT}/${f}.gz
    COMMAND sh -c "gzip -9nc '${KELM_PKG_OUT}/${f}' > '${KELM_PKG_OUT}/${f}.gz'"
    DEPENDS ${KELM_PKG_OUT}/${f}
    VERBATIM)
  list(APPEND KELM_PKG_GZ_FILES ${KELM_PKG_OUT}/${f}.gz)
endforeach()
add_custom_target(kelm_package_docs ALL DEPENDS ${KELM_PKG_GZ_FILES})

foreach(prog kelm-utility kelm kelm-sim kelm-ports)
  install(FILES ${KELM_PKG_OUT}/${prog}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${KELM_PKG_OUT}/changelog.gz ${KELM_PKG_DIR}/copyright DESTINATION ${KELM_DOC_DIR})
install(FILES ${KELM_PKG_DIR}/${KELM_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KELM_PKG_DIR}/${KELM_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(DIRECTORY ${KELM_PKG_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
        FILES_MATCHING PATTERN "*.png")

# Debian's hardening: relocations read-only and bound at start.
foreach(prog kelm-utility kelm kelm-sim kelm-ports)
  target_link_options(${prog} PRIVATE LINKER:-z,relro LINKER:-z,now)
endforeach()

# Redraws the committed icons in packaging/icons (run by hand after a change):
#   cmake --build <dir> --target kelm-draw-icon && <dir>/kelm-draw-icon packaging/icons
find_package(Qt6 REQUIRED COMPONENTS Gui)
add_executable(kelm-draw-icon EXCLUDE_FROM_ALL ${KELM_PKG_DIR}/icons/draw_icon.cpp)
target_link_libraries(kelm-draw-icon PRIVATE Qt6::Gui)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kelm-utility)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KELM Automation")
set(CPACK_PACKAGE_CONTACT "KELM-Utility maintainers <support@kelm-io.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://www.kelm-io.com")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configuration and test tool for KELM remote I/O modules")
# Lines of at most 80 characters, an empty line between paragraphs.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "KELM-Utility configures and tests KELM remote I/O modules, Modbus RTU or\n"
  "ASCII slaves on an RS-485 bus: it scans the bus, reads each module's\n"
  "identity, rewrites its slave address, serial format and protocol, drives and\n"
  "reads its digital, relay, pulse and analog channels, and finds a module whose\n"
  "settings were forgotten.\n"
  "\n"
  "The package also has kelm, the same work on the command line for scripts\n"
  "(scan, link check, identity, new address and format, with JSON output),\n"
  "kelm-sim, a simulator of a bus of KELM modules on a virtual serial port for\n"
  "work without hardware, and kelm-ports, which lists the serial ports as the\n"
  "program numbers them.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped as Debian strips: also the compiler's .comment and .note sections.
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${KELM_PKG_DIR}/strip-notes.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries from the binaries; the window's Chinese text needs a CJK font.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS fonts-wqy-microhei)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
