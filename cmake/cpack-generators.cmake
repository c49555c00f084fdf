# Read by cpack once for each generator.
if(CPACK_GENERATOR STREQUAL "NSIS")
  # The installer and the zip share a base name; "-setup" tells the
  # installer from the program it installs.
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_FILE_NAME}-setup")
elseif(CPACK_GENERATOR MATCHES "^(DEB|RPM)$")
  # Everything but the other system's license files: the component "deb"
  # (Debian's copyright file and changelog) or "rpm" (the %license file).
  string(TOLOWER ${CPACK_GENERATOR} own)
  list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 build)
  set(CPACK_INSTALL_CMAKE_PROJECTS "${build};foliant;Unspecified;/;${build};foliant;${own};/")
endif()
