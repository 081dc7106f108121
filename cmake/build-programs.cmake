# The build's own host programs that the host platform may run, named once
# here: platform/host learns them at start-up from device_setup, and never
# names tools/ itself.
if(TARGET device_setup)
  target_compile_definitions(device_setup PRIVATE ZK_CTLPNL="$<TARGET_FILE:ctlpnl>")
  add_dependencies(device_setup ctlpnl)
endif()
