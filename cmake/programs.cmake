# The programs, built the same way on every target from what the target's
# platform/<target>/target.cmake gives: ZK_DEVICE_CODE_OPTIONS,
# zk_target_program() and zk_resources().

# zk_device_code(<target>...)
#
# Code that goes onto the device: the programs, their core and framework,
# built with the target's options for it.
function(zk_device_code)
  foreach(target ${ARGN})
    target_compile_options(${target} PRIVATE ${ZK_DEVICE_CODE_OPTIONS})
  endforeach()
endfunction()

# zk_program(<name> SOURCES ... [RC <file.rc>] [LIBS ...])
#
# A windowed program of the handheld, entered at wWinMain: on win32 a
# desktop .exe, on host a native program whose start-up glue calls the same
# entry, on wince a CE 3.0 ARM .exe importing from COREDLL.dll alone.
function(zk_program name)
  cmake_parse_arguments(P "" "RC" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} WIN32 ${P_SOURCES})
  zk_device_code(${name})
  target_link_libraries(${name} PRIVATE ${P_LIBS} platform_api)
  zk_target_program(${name})
  if(P_RC)
    zk_resources(${name} ${P_RC})
  endif()
endfunction()

# zk_compile_res(<target> <file.rc> <out-var>): the resource script compiled
# by windres into <target>.res, for the targets that link a .res's bytes.
function(zk_compile_res target rc out)
  find_program(ZK_WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
  get_filename_component(rc_abs ${rc} ABSOLUTE)
  get_filename_component(rc_dir ${rc_abs} DIRECTORY)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${target}.res)
  add_custom_command(
    OUTPUT ${res}
    COMMAND ${ZK_WINDRES} -O res -I ${rc_dir} -I ${CMAKE_CURRENT_SOURCE_DIR}
            -I ${PROJECT_SOURCE_DIR}/core -I ${PROJECT_BINARY_DIR} -i ${rc_abs} -o ${res}
    DEPENDS ${rc_abs}
    IMPLICIT_DEPENDS C ${rc_abs}
    COMMENT "Compiling resources of ${target}")
  set(${out} ${res} PARENT_SCOPE)
endfunction()
