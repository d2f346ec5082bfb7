# The updater program: the stub without a package (target `updater`), into
# which scripts/make-updater and `fa2 make-updater` write packages, and the
# function add_updater() that links an updater with its package instead (for
# packages the tools refuse, such as an empty one).
# Included by the top-level CMakeLists.txt for Windows builds only.

# Size matters: the updater is a download. Its own code needs neither
# exceptions nor RTTI, and functions that nothing calls are dropped.
# (No -fdata-sections: for PE targets it moves zero-filled globals, such as
# the 56 KiB installation description, from .bss into the file.)
target_compile_options(updatercore PRIVATE -Os -fno-exceptions -fno-rtti
                       -fno-asynchronous-unwind-tables -ffunction-sections)
target_compile_options(fa2core PRIVATE -ffunction-sections)
# The core's code besides the decoder runs a few times per update (the
# scripts, the package's directory, paths, the journal's records): there small
# beats fast. The decoder, the compressor and the CRC-32, which see every
# byte of the package, stay built for speed (SHA-256 runs on the processor's
# SHA extensions where there are any, which -Os does not slow).
set(small_core_sources ${core_sources})
list(FILTER small_core_sources EXCLUDE REGEX "(package/(de)?compress|base/crc32)\\.cpp$")
set_source_files_properties(${small_core_sources} PROPERTIES COMPILE_OPTIONS -Os)
# The linker keeps all unwind tables (.eh_frame, .pdata, .xdata) and with
# them every function of each linked object that has them, used or not. So
# the core files the updater uses hold no std::string or std::vector code:
# that would bring in the C++ library's exception support, some 200-250 KB
# (tool.updater_size_test guards this).

# ASLR and DEP named, not left to the linker's defaults, which older
# toolchains do not set (tool.stub_image_test reads them back).
set(FA2_UPDATER_LINK_OPTIONS -mwindows -static -static-libgcc -static-libstdc++
    -s -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  list(APPEND FA2_UPDATER_LINK_OPTIONS -Wl,--high-entropy-va)
endif()

# The entry point and the resources every updater shares (the wizard dialog
# and the manifest). Built once; each updater adds its package.
add_library(updater_program OBJECT app/main_win32.cpp resources/updater.rc)
target_link_libraries(updater_program PUBLIC updatercore)
fa2_target(updater_program)
target_compile_options(updater_program PRIVATE -Os -fno-exceptions -fno-rtti
                       -fno-asynchronous-unwind-tables)
set_property(SOURCE resources/updater.rc APPEND PROPERTY OBJECT_DEPENDS
             ${CMAKE_SOURCE_DIR}/resources/updater.manifest
             ${CMAKE_SOURCE_DIR}/resources/resource_ids.h)

# add_updater(NAME target PACKAGE file): an updater executable with file as
# its package (resource type "UPDATE", id 102).
function(add_updater)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;PACKAGE" "")
  if(NOT arg_NAME OR NOT arg_PACKAGE)
    message(FATAL_ERROR "add_updater needs NAME and PACKAGE")
  endif()
  get_filename_component(package "${arg_PACKAGE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${arg_NAME}-package.rc")
  file(CONFIGURE OUTPUT "${rc}" CONTENT "102 UPDATE \"${package}\"\n")
  add_executable(${arg_NAME} WIN32 "${rc}")
  set_property(SOURCE "${rc}" APPEND PROPERTY OBJECT_DEPENDS "${package}")
  target_link_libraries(${arg_NAME} PRIVATE updater_program)
  target_link_options(${arg_NAME} PRIVATE ${FA2_UPDATER_LINK_OPTIONS})
endfunction()

# The stub: the program without a package (it says "UPDATE.FA2 not found").
# Its size is the updater's own share of every download.
add_executable(updater WIN32)
target_link_libraries(updater PRIVATE updater_program)
target_link_options(updater PRIVATE ${FA2_UPDATER_LINK_OPTIONS})

add_test(NAME tool.updater_size_test
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/tool/updater_size_test.sh $<TARGET_FILE:updater>)

# The stub's image: hardened, and importing only DLLs that the system always
# loads from its own folder.
add_test(NAME tool.stub_image_test
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/tool/stub_image_test.sh $<TARGET_FILE:updater>
                 ${CMAKE_OBJDUMP} ${CMAKE_SIZEOF_VOID_P})

# make-updater run as a program on this build (with the Windows fa2 tool
# through Wine, so no native build is needed).
add_test(NAME tool.make_updater_test
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/tool/make_updater_test.sh
                 ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/fa2-wine)
