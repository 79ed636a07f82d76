# Packages, made with cpack in the tree that builds what they hold:
#   native tree:  a Debian package of the Linux front end (cpack -G DEB)
#   product tree: a zip of the Windows release (cpack -G ZIP)
set(CPACK_PACKAGE_NAME qzflash)
set(CPACK_PACKAGE_VENDOR "QZFlash developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QZFlash developers <qzflash@localhost>")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_OUTPUT_FILE_PREFIX packages)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME qzflash-${PROJECT_VERSION}-windows)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Video BIOS flash program for Windows 9x and 2000/XP")
  # The programs, the driver and QZSetup's files install themselves (their
  # folders' CMakeLists); the text on installing and the licence go beside
  # them, with Windows line ends so that Notepad shows them.
  configure_file(${CMAKE_SOURCE_DIR}/docs/windows-install.txt ${CMAKE_BINARY_DIR}/package/INSTALL.TXT @ONLY NEWLINE_STYLE CRLF)
  configure_file(${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/package/LICENSE.TXT @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/package/INSTALL.TXT ${CMAKE_BINARY_DIR}/package/LICENSE.TXT DESTINATION .)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "update, save and restore the video BIOS of graphics cards")
  set(CPACK_PACKAGE_DESCRIPTION "qzflash finds supported graphics cards through sysfs, identifies the\nflash part that holds the video BIOS and updates, saves or restores it.\nA virtual card (--virtual) lets it be tried without hardware.")
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # What a build with Debian 12's compiler links against.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1 (>= 3.0)")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
endif()
include(CPack)
