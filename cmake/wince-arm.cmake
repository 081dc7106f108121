# The handheld: Windows CE 3.0 on ARM (StrongARM, ARMv4). Debian's bare-metal
# ARM compiler writes the code; the CE binutils (scripts/ce-binutils.sh, built
# once from Debian's binutils-source and cached) assemble, link and compile the
# resources. No C runtime and no libgcc: COREDLL.dll is the only library.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(ZK_TARGET wince)

set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)

if(NOT ZK_CE_BINUTILS)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/ce-binutils.sh
                  OUTPUT_VARIABLE prefix OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "The CE binutils could not be built (scripts/ce-binutils.sh)")
  endif()
  set(ZK_CE_BINUTILS ${prefix} CACHE PATH "The CE binutils (scripts/ce-binutils.sh)")
endif()
set(ZK_CE_TOOL ${ZK_CE_BINUTILS}/bin/arm-mingw32ce-)
set(CMAKE_AR ${ZK_CE_TOOL}ar CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${ZK_CE_TOOL}ranlib CACHE FILEPATH "" FORCE)
set(CMAKE_LINKER ${ZK_CE_TOOL}ld CACHE FILEPATH "" FORCE)

# ARMv4 in ARM mode (the StrongARM has no Thumb and no bx), soft float, 2-byte
# wchar_t for UTF-16 strings, enums as ints as the system's headers have them;
# _WIN32_WCE names the CE version, as CE's own SDK does, for platform/winapi.
set(ZK_CE_FLAGS "-march=armv4 -marm -mfloat-abi=soft -fshort-wchar -fno-short-enums -fno-common -ffreestanding -D_WIN32_WCE=0x300")
set(CMAKE_C_FLAGS_INIT "${ZK_CE_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${ZK_CE_FLAGS} -fno-exceptions -fno-rtti -fno-unwind-tables -fno-asynchronous-unwind-tables -fno-threadsafe-statics")

# Compile to ELF assembly, rewrite it for the CE assembler, assemble to COFF.
set(ZK_CE_CC ${CMAKE_CURRENT_LIST_DIR}/../platform/wince/ce-cc.py)
set(CMAKE_C_COMPILE_OBJECT
    "${ZK_CE_CC} ${ZK_CE_TOOL}as <CMAKE_C_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -o <OBJECT> -c <SOURCE>")
set(CMAKE_CXX_COMPILE_OBJECT
    "${ZK_CE_CC} ${ZK_CE_TOOL}as <CMAKE_CXX_COMPILER> <DEFINES> <INCLUDES> <FLAGS> -o <OBJECT> -c <SOURCE>")

# A CE 3.0 GUI program at the usual base, entered at the start-up's
# WinMainCRTStartup, stripped; without the later desktop loaders' flags
# (address-space randomisation, no-execute), which CE 3.0 knows nothing of;
# and without the link's time, so that a build is the same bytes each time.
set(ZK_CE_LINK
    "${ZK_CE_TOOL}ld --subsystem wince:3.0 --image-base 0x10000 --entry WinMainCRTStartup -s --disable-dynamicbase --disable-nxcompat --no-insert-timestamp <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
set(CMAKE_C_LINK_EXECUTABLE "${ZK_CE_LINK}")
set(CMAKE_CXX_LINK_EXECUTABLE "${ZK_CE_LINK}")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
