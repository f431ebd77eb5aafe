# Start-up, the login window, the version check and the program itself, added to qumo_ui;
# and the install step that lays out the portable program folder.
if(NOT (TARGET qumo_app AND TARGET qumo_net AND TARGET qumo_media))
  return()
endif()

target_sources(qumo_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/check_version.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qumo_app.cpp
  ${CMAKE_CURRENT_LIST_DIR}/user_login_dlg.cpp
)
target_link_libraries(qumo_ui PUBLIC qumo_app qumo_net qumo_media)
# The main window.
include(${CMAKE_CURRENT_LIST_DIR}/mainframe/mainframe.cmake)
if(TARGET qumo_serverdir)
  target_link_libraries(qumo_ui PUBLIC qumo_serverdir)
endif()
# The partner logins on the browser engine.
include(${CMAKE_CURRENT_LIST_DIR}/partner/partner.cmake)

add_executable(QumoClient ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(QumoClient PRIVATE qumo_ui qumo_flags)

# The portable folder: bin/ holds the program, its configuration file and its log folder;
# the install root beside it holds the skin and the thumbnail cache.
install(TARGETS QumoClient RUNTIME DESTINATION bin COMPONENT client)
# A configuration file already there holds the user's remembered account: keep it. The
# shipped one is blank and readable by all, so a user can copy an installed folder; the
# program writes it back readable by its owner only.
install(CODE "
  if(NOT EXISTS \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/QumolanLocalConfig.xml\")
    file(INSTALL \"${PROJECT_SOURCE_DIR}/res/QumolanLocalConfig.xml\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/bin\"
         PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  endif()
" COMPONENT client)
install(DIRECTORY DESTINATION bin/log COMPONENT client)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/skin/blue DESTINATION skin COMPONENT client)
install(DIRECTORY DESTINATION lib/tmp COMPONENT client)

# Every build also lays the folder out under <build>/install, where scripts/run-demo
# starts the program from.
add_custom_target(qumo_install_tree ALL
  COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR} --prefix ${CMAKE_BINARY_DIR}/install
          --component client
  DEPENDS QumoClient
  COMMENT "Laying out the program folder in ${CMAKE_BINARY_DIR}/install"
  VERBATIM)
