# The Qt face: widgets bound to the plain controls, QSerialPort behind the
# serial-port interface, and the panel executable.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets SerialPort)
qt_standard_project_setup()

# QSerialPort implementation and the port-name rule.
include(${CMAKE_CURRENT_LIST_DIR}/link/qt/CMakeLists_qt_link.cmake OPTIONAL)

# Widgets bound to the plain controls.
include(${CMAKE_CURRENT_LIST_DIR}/toolkit/qt/CMakeLists_qt_face.cmake OPTIONAL)
