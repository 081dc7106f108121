# zk_device_code(<target>...)
#
# Code that goes onto the device: the programs, their core and framework. On
# the Windows targets it is built small, without exceptions or RTTI, one
# section a function so the linker drops what is not called. The host builds
# it as it builds everything else, so the tests and sanitizers see it whole.
function(zk_device_code)
  if(ZK_TARGET STREQUAL "host")
    return()
  endif()
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti
                           -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
  endforeach()
endfunction()

# zk_program(<name> SOURCES ... [RC <file.rc>] [LIBS ...])
#
# A windowed program of the handheld. On win32: a GUI-subsystem .exe with the
# wide entry, runtimes linked in statically, small. On host: a native program
# whose start-up glue calls the same entry, with its compiled resources
# embedded. On wince: a CE 3.0 ARM .exe entered through our own start-up,
# importing from COREDLL.dll alone.
function(zk_program name)
  cmake_parse_arguments(P "" "RC" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} WIN32 ${P_SOURCES})
  zk_device_code(${name})
  target_link_libraries(${name} PRIVATE ${P_LIBS} winapi)
  if(ZK_TARGET STREQUAL "win32")
    if(P_RC)
      target_sources(${name} PRIVATE ${P_RC})
    endif()
    target_compile_options(${name} PRIVATE -municode)
    target_link_options(${name} PRIVATE -municode -static -s -Wl,--gc-sections)
  elseif(ZK_TARGET STREQUAL "wince")
    target_sources(${name} PRIVATE $<TARGET_OBJECTS:ce_startup>)
    set_target_properties(${name} PROPERTIES SUFFIX .exe)
    if(P_RC)
      zk_ce_resources(${name} ${P_RC})
    endif()
  else()
    target_link_libraries(${name} PRIVATE host_entry)
    if(P_RC)
      zk_embed_resources(${name} ${P_RC})
    endif()
  endif()
endfunction()

# zk_embed_resources(<target> <file.rc>)
#
# Host only: compiles the resource script with windres into a .res and links
# its bytes into the program, where FindResourceW reads them.
function(zk_embed_resources target rc)
  zk_compile_res(${target} ${rc} res)
  set(cpp ${CMAKE_CURRENT_BINARY_DIR}/${target}_res.cpp)
  add_custom_command(
    OUTPUT ${cpp}
    COMMAND ${CMAKE_COMMAND} -DIN=${res} -DOUT=${cpp} -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${res} ${PROJECT_SOURCE_DIR}/cmake/embed.cmake)
  target_sources(${target} PRIVATE ${cpp})
endfunction()

# zk_ce_resources(<target> <file.rc>)
#
# The handheld: the same .res as the other builds, turned into a CE object by
# the CE windres (which has no preprocessor of its own) and linked in.
function(zk_ce_resources target rc)
  zk_compile_res(${target} ${rc} res)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}_res.o)
  add_custom_command(
    OUTPUT ${obj}
    COMMAND ${ZK_CE_TOOL}windres -J res -i ${res} -O coff -o ${obj}
    DEPENDS ${res})
  target_sources(${target} PRIVATE ${obj})
endfunction()

# zk_compile_res(<target> <file.rc> <out-var>): the resource script compiled
# by windres into <target>.res.
function(zk_compile_res target rc out)
  find_program(ZK_WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
  get_filename_component(rc_abs ${rc} ABSOLUTE)
  get_filename_component(rc_dir ${rc_abs} DIRECTORY)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${target}.res)
  add_custom_command(
    OUTPUT ${res}
    COMMAND ${ZK_WINDRES} -O res -I ${rc_dir} -I ${CMAKE_CURRENT_SOURCE_DIR}
            -I ${PROJECT_SOURCE_DIR}/settings -i ${rc_abs} -o ${res}
    DEPENDS ${rc_abs}
    IMPLICIT_DEPENDS C ${rc_abs}
    COMMENT "Compiling resources of ${target}")
  set(${out} ${res} PARENT_SCOPE)
endfunction()
