# The Qt face: widgets bound to the plain controls, the window built from the
# layout table, and the panel executable on top of it.
cmake_path(SET talmir880_app_dir NORMALIZE "${CMAKE_CURRENT_LIST_DIR}/../../app")

add_library(talmir880_qt_face STATIC
  ${CMAKE_CURRENT_LIST_DIR}/widget_bindings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qt_message_boxes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/form_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/font_config_reader.cpp
)
target_link_libraries(talmir880_qt_face PUBLIC talmir880_core talmir880_options Qt6::Widgets)
# Qt draws text through fontconfig on Linux and the BSDs; the panel reads its
# configuration early (FontConfigReader).
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_package(Fontconfig REQUIRED)
else()
  find_package(Fontconfig QUIET)
endif()
if(Fontconfig_FOUND)
  target_link_libraries(talmir880_qt_face PRIVATE Fontconfig::Fontconfig)
  target_compile_definitions(talmir880_qt_face PRIVATE TALMIR880_HAVE_FONTCONFIG=1)
endif()

# The window's icon and the fonts of its captions are resources of whichever
# program shows the window.
function(talmir880_add_resources target)
  cmake_path(SET resources NORMALIZE "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../../app/resources")
  # Qt's resource functions need the variables find_package sets, which a
  # caller's directory may lack: without them qt_add_resources adds nothing.
  find_package(Qt6 REQUIRED COMPONENTS Core)
  qt_add_resources(${target} talmir880_resources
    PREFIX /talmir880
    BASE ${resources}
    FILES ${resources}/talmir880.png
          ${resources}/fonts/talmir880-panel-regular.otf
          ${resources}/fonts/talmir880-panel-bold.otf)
endfunction()

# The panel needs the QSerialPort backend, built beside this face.
if(TARGET talmir880_qt_link)
  qt_add_executable(talmir880 ${talmir880_app_dir}/main.cpp)
  target_link_libraries(talmir880 PRIVATE talmir880_qt_face talmir880_qt_link)
  set_target_properties(talmir880 PROPERTIES WIN32_EXECUTABLE ON MACOSX_BUNDLE ON)
  talmir880_add_resources(talmir880)
endif()
