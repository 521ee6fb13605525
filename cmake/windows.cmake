# The Windows image: the portable core and the Win32 layer, linked with no C
# runtime at all, so it imports from KERNEL32 and NETAPI32 only, runs on
# every Windows from NT 4.0 on, and stays a few kilobytes.
enable_language(RC)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Small code, no unwind tables (nothing throws), no guards around function
# statics (one thread), no stack protector (it needs the runtime), and every
# function in its own section so the linker drops what is never called.
# Not -fdata-sections: MinGW's GCC then gives each zeroed static a .data$
# section of its own, stored in the file in full instead of in .bss, and
# the message buffers alone would add 12 KiB.
#
# And code for the 486: NT 4.0 ran on 486s and Pentiums, which lack the
# CMOV and SSE instructions the compiler would otherwise use.
set(TARNWICK_WINDOWS_CODE_OPTIONS
  -march=i486
  -mtune=generic
  -Os
  -fno-asynchronous-unwind-tables
  -fno-unwind-tables
  -fno-threadsafe-statics
  -fno-stack-protector
  -fno-ident
  -ffunction-sections)
target_compile_options(tarnwick_core PRIVATE ${TARNWICK_WINDOWS_CODE_OPTIONS})

# No default Windows libraries: the image names its two DLLs itself.
set(CMAKE_CXX_STANDARD_LIBRARIES "")

set(TARNWICK_ICON ${CMAKE_CURRENT_BINARY_DIR}/tarnwick.ico)
add_custom_command(
  OUTPUT ${TARNWICK_ICON}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/resources/make_icon.py
          ${CMAKE_CURRENT_SOURCE_DIR}/resources/icon.txt ${TARNWICK_ICON}
  DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/resources/make_icon.py
          ${CMAKE_CURRENT_SOURCE_DIR}/resources/icon.txt
  COMMENT "Drawing the icon"
  VERBATIM)
set_source_files_properties(resources/tarnwick.rc PROPERTIES
  OBJECT_DEPENDS "${TARNWICK_ICON};${CMAKE_CURRENT_SOURCE_DIR}/resources/version.h")

add_executable(Tarnwick platform/win32/win32_platform.cpp resources/tarnwick.rc ${TARNWICK_ICON})
target_compile_options(Tarnwick PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:${TARNWICK_WARNINGS} ${TARNWICK_WINDOWS_CODE_OPTIONS}>)
# windres looks for the icon along the include path.
target_include_directories(Tarnwick PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(Tarnwick PRIVATE tarnwick_core kernel32 netapi32)
target_link_options(Tarnwick PRIVATE
  -nostdlib
  -nostartfiles
  -Wl,--entry,_TarnwickStart
  -Wl,--subsystem,console:4.0
  -Wl,--major-os-version,4
  -Wl,--minor-os-version,0
  -Wl,--gc-sections
  -Wl,--no-insert-timestamp
  -s)
