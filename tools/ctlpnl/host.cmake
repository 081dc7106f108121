# A program of the host, which the device's set-up installs as
# \Windows\ctlpnl.exe; it writes its log as the device folder writes every
# file, and its notice as the terminal's text.
add_executable(ctlpnl host.cpp)
target_link_libraries(ctlpnl PRIVATE platform_api host_headers)
