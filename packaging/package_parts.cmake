# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE): the .deb holds
# what `cmake --install` installs, the zip only the modules and their README,
# at its top level.
if(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL modules)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  set(CPACK_ARCHIVE_FILE_NAME "Ocuvex-${CPACK_PACKAGE_VERSION}")
endif()
