# The web API calls and the service's hosts, added to qumo_net.
set(QUMO_API_HOST "127.0.0.1:8410" CACHE STRING "API host of the service (name:port)")
set(QUMO_UPDATE_HOST "127.0.0.1:8410" CACHE STRING "Update host of the service")
set(QUMO_WEBSITE_HOST "www.qumo.localhost:8410" CACHE STRING "Website host of the service")
set(QUMO_PARTNER_LOGIN_HOST "open.qumo.localhost:8410" CACHE STRING "Partner-login host")
set(QUMO_PICTURE_HOST "127.0.0.1:8410" CACHE STRING "Picture host of the service")
set(QUMO_VIDEO_THUMB_HOST "127.0.0.1:8410" CACHE STRING "Video-thumbnail host of the service")

find_package(PkgConfig REQUIRED)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)

target_sources(qumo_net PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/api_answer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api_url.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api_account.cpp
  ${CMAKE_CURRENT_LIST_DIR}/api_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hosts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/service_config.cpp
)
target_link_libraries(qumo_net PUBLIC qumo_app PkgConfig::JSONCPP)
target_compile_definitions(qumo_net PRIVATE
  QUMO_API_HOST="${QUMO_API_HOST}"
  QUMO_UPDATE_HOST="${QUMO_UPDATE_HOST}"
  QUMO_WEBSITE_HOST="${QUMO_WEBSITE_HOST}"
  QUMO_PARTNER_LOGIN_HOST="${QUMO_PARTNER_LOGIN_HOST}"
  QUMO_PICTURE_HOST="${QUMO_PICTURE_HOST}"
  QUMO_VIDEO_THUMB_HOST="${QUMO_VIDEO_THUMB_HOST}"
)
