# Run by cpack on each generator's staging tree before it packs.
# The Windows programs signed before they go into the zip and the installer
# (when tools/package.sh is given a key).
file(GLOB_RECURSE programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*.exe")
foreach(FILE IN LISTS programs)
  include(${CMAKE_CURRENT_LIST_DIR}/sign-windows.cmake)
endforeach()
# Every file and folder dated SOURCE_DATE_EPOCH, so that the zip, the
# installer and the packages record no build-tree dates.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" ${staged} "${CPACK_TEMPORARY_INSTALL_DIRECTORY}"
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
