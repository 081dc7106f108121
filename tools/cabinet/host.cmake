# The reader of a cabinet and its installation header, and of the device's
# shortcut files: the device session installs with it, the tests read with it.
add_library(cab_header STATIC cab_header.cpp cab_header.h header_layout.h cab_layout.cpp)
target_include_directories(cab_header PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(cab_header PRIVATE host_headers)
