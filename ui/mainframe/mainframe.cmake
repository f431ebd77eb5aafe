# The main window and its views, added to qumo_ui (needs the upload engine).
target_sources(qumo_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/list_ctrl_ex.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_add.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_drop.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_menu.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_preview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_queue_ctl.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_tray.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_frame_user.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/preview_sink_adapter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/progress_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../settings_dlg.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ui_thread_call.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upload_list_delegate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/upload_list_model.cpp
)
target_link_libraries(qumo_ui PUBLIC qumo_upload qumo_media qumo_serverdir)

# Photographs the main window for docs/screenshots (scripts/screenshots).
add_executable(qumo_mainframe_screenshots ${CMAKE_CURRENT_LIST_DIR}/tools/mainframe_screenshots.cpp)
target_link_libraries(qumo_mainframe_screenshots PRIVATE qumo_ui qumo_flags)
# The video of the portrait-and-video screenshot is written with the FFmpeg libraries.
find_package(PkgConfig REQUIRED)
pkg_check_modules(QUMO_SHOT_FFMPEG REQUIRED IMPORTED_TARGET libavformat libavcodec libavutil)
target_link_libraries(qumo_mainframe_screenshots PRIVATE PkgConfig::QUMO_SHOT_FFMPEG)
target_include_directories(qumo_mainframe_screenshots PRIVATE ${PROJECT_SOURCE_DIR}/tests/media)
