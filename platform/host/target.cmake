# The Linux host's build: native programs over our own Windows API
# (platform/host), their resources embedded, with every tool and most tests.
# Included by the top CMakeLists.txt; the rest of the tree builds from what
# is set here without asking which target it is.

# Device code is built as everything else, so the tests and sanitizers see it
# whole.
set(ZK_DEVICE_CODE_OPTIONS)

# What the host builds beside the programs. The wince build's programs, in
# ZK_WINCE_DIR, run on the emulated StrongARM and are tested from here.
set(ZK_SUBDIRS tools/ctlpnl tools/cabinet tools/device-session)
set(ZK_TEST_DIRS launcher registry settings session tools)
if(ZK_WINCE_DIR)
  list(APPEND ZK_SUBDIRS tools/armemu)
  list(APPEND ZK_TEST_DIRS arm cabinet)
endif()
list(APPEND ZK_SUBDIRS tests)
# Benchmarks of the host programs, built for scripts/bench.sh only.
option(ZK_BENCHMARKS "Build the host benchmarks (bench/)" OFF)
if(ZK_BENCHMARKS)
  list(APPEND ZK_SUBDIRS bench)
endif()

# A program: a native one whose start-up glue (platform/host/main.cpp) calls
# the entry.
function(zk_target_program name)
  target_link_libraries(${name} PRIVATE host_entry)
endfunction()

# zk_resources(<target> <file.rc>): the resource script compiled by windres
# into a .res whose bytes are linked into the program, where FindResourceW
# reads them.
function(zk_resources target rc)
  zk_compile_res(${target} ${rc} res)
  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${target}_res.cpp)
  add_custom_command(
    OUTPUT ${cpp}
    COMMAND ${CMAKE_COMMAND} -DIN=${res} -DOUT=${cpp} -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${res} ${PROJECT_SOURCE_DIR}/cmake/embed.cmake)
  target_sources(${target} PRIVATE ${cpp})
endfunction()

# The tests: GoogleTest from the system.
macro(zk_test_setup)
  find_package(GTest REQUIRED)
endmacro()

# A test: no test may end with a registry key handle open or misused
# (handle_check.cpp), and a test may run a program of its own in a build
# program's place (host_programs.cpp).
set(ZK_TEST_SUPPORT_SOURCES handle_check.cpp host_programs.cpp)
function(zk_target_test name)
  target_link_libraries(${name} PRIVATE device_setup call_lines host_headers)
endfunction()
