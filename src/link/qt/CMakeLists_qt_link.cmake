# The serial port on QSerialPort and the rule that turns COM<n> into a device.
add_library(talmir880_qt_link STATIC
  ${CMAKE_CURRENT_LIST_DIR}/qt_serial_port.cpp
  ${CMAKE_CURRENT_LIST_DIR}/port_names.cpp
)
target_link_libraries(talmir880_qt_link
  PUBLIC talmir880_core Qt6::Core Qt6::SerialPort
  PRIVATE talmir880_ports talmir880_options)
