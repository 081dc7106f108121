# The handheld's build (cmake/wince-arm.cmake): the two programs as CE 3.0
# ARM .exe files, their installation cabinet, and the crafted programs the
# emulator's tests run. Its tests run on the host, in the emulated StrongARM
# (tools/armemu), given this build's folder. Included by the top
# CMakeLists.txt; the rest of the tree builds from what is set here without
# asking which target it is.

# Device code is built small: no exceptions or RTTI, one section a function
# so the linker drops what is not called.
set(ZK_DEVICE_CODE_OPTIONS -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -ffunction-sections -fdata-sections)

set(ZK_SUBDIRS tools/cabinet tests/arm/crafted)

# A program: entered through our own start-up (platform/wince/startup.cpp),
# importing from COREDLL.dll alone.
function(zk_target_program name)
  target_sources(${name} PRIVATE $<TARGET_OBJECTS:ce_startup>)
  set_target_properties(${name} PROPERTIES SUFFIX .exe)
endfunction()

# zk_resources(<target> <file.rc>): the same .res as the other builds, turned
# into a CE object by the CE windres (which has no preprocessor of its own)
# and linked in.
function(zk_resources target rc)
  zk_compile_res(${target} ${rc} res)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${target}_res.o)
  add_custom_command(
    OUTPUT ${obj}
    COMMAND ${ZK_CE_TOOL}windres -J res -i ${res} -O coff -o ${obj}
    DEPENDS ${res})
  target_sources(${target} PRIVATE ${obj})
endfunction()
