# The partner logins: the sign-in window on the browser engine and the partner flow of the
# login window, added to qumo_ui.
find_package(Qt6 REQUIRED COMPONENTS WebEngineWidgets)

target_sources(qumo_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/browser_cookies.cpp
  ${CMAKE_CURRENT_LIST_DIR}/partner_login.cpp
  ${CMAKE_CURRENT_LIST_DIR}/partner_trust.cpp
  ${CMAKE_CURRENT_LIST_DIR}/third_user_login.cpp
  ${CMAKE_CURRENT_LIST_DIR}/web_browser2.cpp
)
target_link_libraries(qumo_ui PUBLIC Qt6::WebEngineWidgets qumo_serverdir)

# Photographs the partner sign-in window for docs/screenshots (scripts/screenshot-partner).
add_executable(qumo_partner_screenshot ${CMAKE_CURRENT_LIST_DIR}/tools/partner_screenshot.cpp)
target_link_libraries(qumo_partner_screenshot PRIVATE qumo_ui qumo_flags)
