# The installation cabinet, beside the two programs: what it installs where
# is ce-cab.py's table; the maker's name is the build's (ZK_MAKER).
set(cab ${CMAKE_BINARY_DIR}/Velloria.cab)
set(cab_tool ${CMAKE_CURRENT_SOURCE_DIR}/ce-cab.py)
add_custom_command(
  OUTPUT ${cab}
  COMMAND ${cab_tool} ${cab} ${ZK_MAKER} $<TARGET_FILE:Velloria> $<TARGET_FILE:Tarquell>
  DEPENDS ${cab_tool} ${CMAKE_CURRENT_SOURCE_DIR}/header_layout.h Velloria Tarquell
  COMMENT "Making the installation cabinet Velloria.cab")
add_custom_target(velloria_cab ALL DEPENDS ${cab})
