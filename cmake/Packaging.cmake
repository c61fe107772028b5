# Debian package of the program, built by cpack from a build folder:
#   cmake --build build --target ulmaro && (cd build && cpack)
# It holds the program, its desktop entry and icon, the udev rule that lets
# plugdev members open the USB converter, and the system-wide default of
# SETUP_ULMARO.INI (read when neither the program's folder nor the user's
# configuration folder has one). The post-install script names the groups a
# user needs. The documentation Debian asks of every package (copyright,
# changelogs, manual page) is compressed here at configure time, with no
# time stamp in the gzip header, so the package's bytes do not depend on
# the day it was built.

include(GNUInstallDirs)

# The package needs only the program: installing must not first build every
# test and benchmark.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

install(TARGETS ulmaro RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ulmaro)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/ulmaro.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT ulmaro)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/ulmaro.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT ulmaro)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/SETUP_ULMARO.INI
        DESTINATION ${CMAKE_INSTALL_DATADIR}/ulmaro COMPONENT ulmaro)
set(_ulmaro_docs ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_ulmaro_docs})
foreach(_doc changelog changelog.Debian ulmaro.1)
  # Copied first so that an edit of the source re-runs the configure step.
  configure_file(${CMAKE_SOURCE_DIR}/packaging/${_doc} ${_ulmaro_docs}/${_doc} COPYONLY)
  execute_process(COMMAND gzip -9 -n -f -k ${_ulmaro_docs}/${_doc} RESULT_VARIABLE _gz)
  if(NOT _gz EQUAL 0)
    message(FATAL_ERROR "gzip of packaging/${_doc} failed")
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${_ulmaro_docs}/changelog.gz
              ${_ulmaro_docs}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT ulmaro)
install(FILES ${_ulmaro_docs}/ulmaro.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ulmaro)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
        RENAME ulmaro COMPONENT ulmaro)
# /usr/lib/udev/rules.d: Debian 12 merges /lib into /usr/lib, and udev reads both.
install(FILES ${CMAKE_SOURCE_DIR}/acquisition/udev/60-ulmaro-usb-adc.rules
        DESTINATION lib/udev/rules.d COMPONENT ulmaro)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ulmaro)
set(CPACK_PACKAGE_VENDOR "${ULMARO_COMPANY_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
# A Debian revision of its own: the package carries both the program's
# changelog and the packaging's (changelog.Debian), as a non-native package.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "read-out of electrostatics lab instruments")
# Lines of at most 80 characters; cpack indents each by one space and puts
# the summary above them.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Reads field meters through the ELV USB A/D converter, and the charge plate
monitor Karvo, the tera-ohmmeter Ohmra and the wrist-strap tester Gripo on
a serial port. Shows live charts and large digits, keeps the extremes,
writes semicolon-separated files and prints reports.
.
'ulmaro --demo' runs with simulated instruments.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};ulmaro;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ULMARO_AUTHOR} <lab@ulmaro.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so shlibdeps cannot see them: the platform plugins
# (xcb, and offscreen for scripts), the fonts the windows are designed in,
# and the converter's and the port list's libraries (opened on first use).
# adduser: the post-install hint tells the administrator to run it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation, libusb-0.1-4, libserialport0, adduser")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/packaging/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Builds the package, unpacks it into a scratch root and starts the unpacked
# program offscreen with --demo; it must show its window and end when closed.
# Only plain builds are packaged: a sanitized program is no package to ship.
if((BUILD_TESTING OR NOT DEFINED BUILD_TESTING) AND NOT ULMARO_SANITIZE AND NOT ULMARO_FUZZ)
  add_test(NAME package_install
           COMMAND ${CMAKE_SOURCE_DIR}/packaging/test_package.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_install PROPERTIES LABELS package TIMEOUT 600 RUN_SERIAL TRUE)
endif()
