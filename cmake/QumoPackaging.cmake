# Packages of the portable program folder (ui/startup.cmake lays it out, component "client"):
#   - a .tar.gz of the folder with the reference service beside it, to unpack anywhere;
#   - a .deb that puts the folder under /opt/qumoclient and adds the launcher
#     /usr/bin/qumoclient, a desktop entry and an icon (component "desktop").
# The program writes its files beside itself, which /opt does not allow, so the launcher
# runs it from a writable copy in the user's data folder (packaging/qumoclient).
set(QUMO_DEB_PREFIX /opt/qumoclient)

# The launcher also goes into the folder itself: from an unpacked, writable folder it runs
# the program in place.
configure_file(${PROJECT_SOURCE_DIR}/packaging/qumoclient.in ${PROJECT_BINARY_DIR}/qumoclient
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
               GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
if(TARGET QumoClient)
  install(PROGRAMS ${PROJECT_BINARY_DIR}/qumoclient DESTINATION . COMPONENT client)
endif()

# The demo back end, outside the program folder so the program's own files stay apart.
if(TARGET qumo-service)
  install(TARGETS qumo-service RUNTIME DESTINATION service COMPONENT service)
endif()

# Desktop integration, only in the .deb: absolute paths, so plain `cmake --install` of the
# portable folder never touches them (EXCLUDE_FROM_ALL).
install(PROGRAMS ${PROJECT_BINARY_DIR}/qumoclient DESTINATION /usr/bin COMPONENT desktop
        EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/qumoclient.desktop
        DESTINATION /usr/share/applications COMPONENT desktop EXCLUDE_FROM_ALL)
install(FILES ${PROJECT_SOURCE_DIR}/res/qumo.png DESTINATION /usr/share/icons/hicolor/128x128/apps
        RENAME qumoclient.png COMPONENT desktop EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME qumoclient)
set(CPACK_PACKAGE_VENDOR "QumoClient developers")
set(CPACK_PACKAGE_CONTACT "QumoClient developers <qumoclient@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop client of the Qumo photo and video service")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Uploads folders of photos and videos into the private folders of a Qumo account, "
       "with instant upload of known content, resumable transfers and a queue that survives "
       "restarts. Ships the reference service qumo-service as a demo back end "
       "(qumoclient --demo).")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME qumoclient-${PROJECT_VERSION}-${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Chinese text needs a CJK font; the website's pages open in the desktop's browser.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, fonts-noto-color-emoji, xdg-utils")

# Per generator (read by cpack): which components and where. Only CPACK_* variables
# reach cpack, hence the name of the .deb's prefix.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/QumoCPackOptions.cmake)
set(CPACK_QUMO_DEB_PREFIX ${QUMO_DEB_PREFIX})
include(CPack)
