# Read by cpack once for each generator. The installer and the zip share a
# base name; "-setup" tells the installer from the program it installs.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
endif()
