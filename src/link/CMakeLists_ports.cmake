# The ports folder is shared by the panel's port-name rule and talmir880-sim,
# so it is a small POSIX-only library of its own.
add_library(talmir880_ports STATIC ${CMAKE_CURRENT_LIST_DIR}/ports_folder.cpp)
target_include_directories(talmir880_ports PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(talmir880_ports PRIVATE talmir880_options)
