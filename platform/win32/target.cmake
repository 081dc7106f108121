# Desktop Windows' build, cross-compiled with mingw-w64
# (cmake/mingw-w64-x86_64.cmake): real .exe files and the tests that run them
# under Wine. Included by the top CMakeLists.txt; the rest of the tree builds
# from what is set here without asking which target it is.
enable_language(RC)

# Device code is built small: no exceptions or RTTI, one section a function
# so the linker drops what is not called.
set(ZK_DEVICE_CODE_OPTIONS -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections)

set(ZK_SUBDIRS tools/ctlpnl tests)
set(ZK_TEST_DIRS launcher registry velloria_wine)

# A program: GUI subsystem with the wide entry, runtimes linked in
# statically, small.
function(zk_target_program name)
  target_compile_options(${name} PRIVATE -municode)
  target_link_options(${name} PRIVATE -municode -static -s -Wl,--gc-sections)
endfunction()

# zk_resources(<target> <file.rc>): the script compiled with the program;
# windres finds the program's ids header and the icons from the program's folder and the
# script's.
function(zk_resources target rc)
  get_filename_component(rc_dir ${rc} ABSOLUTE)
  get_filename_component(rc_dir ${rc_dir} DIRECTORY)
  target_sources(${target} PRIVATE ${rc})
  target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${rc_dir} ${PROJECT_BINARY_DIR})
endfunction()

# The tests: GoogleTest built from Debian's sources with this compiler, and
# every test run under Wine, in one fresh prefix per test run, one at a time.
macro(zk_test_setup)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

  set(ZK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  add_test(NAME wine_prefix_setup
           COMMAND ${ZK_TEST_SUPPORT}/wine-prefix.sh setup ${ZK_WINEPREFIX})
  add_test(NAME wine_prefix_cleanup
           COMMAND ${ZK_TEST_SUPPORT}/wine-prefix.sh cleanup ${ZK_WINEPREFIX})
  set_tests_properties(wine_prefix_setup PROPERTIES FIXTURES_SETUP wine_prefix RESOURCE_LOCK wine)
  set_tests_properties(wine_prefix_cleanup PROPERTIES FIXTURES_CLEANUP wine_prefix RESOURCE_LOCK wine)
endmacro()

function(zk_target_test name)
  target_link_options(${name} PRIVATE -static)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine_prefix RESOURCE_LOCK wine)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "WINEPREFIX=${ZK_WINEPREFIX}")
endfunction()
