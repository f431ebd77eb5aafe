# Read by cpack once per generator (CPACK_PROJECT_CONFIG_FILE).
if(CPACK_GENERATOR STREQUAL "DEB")
  # One package holding every component, the desktop integration included.
  set(CPACK_COMPONENTS_ALL client service desktop)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_PACKAGING_INSTALL_PREFIX ${CPACK_QUMO_DEB_PREFIX})
else()
  # The portable folder, unpacked anywhere.
  set(CPACK_COMPONENTS_ALL client service)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  # Unpacks into its own folder, qumoclient-<version>-<arch>/.
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
