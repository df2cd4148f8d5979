# ONDRIX.dll: exports by plain name and ordinal, version resource, runtime
# linked statically so it imports only system DLLs. 32-bit is the product;
# the 64-bit build serves 64-bit VBA hosts.
set(ONDRIX_DEF ${CMAKE_SOURCE_DIR}/src/frame/ondrix.def)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # x64 has one calling convention and no @N decoration: the same list, plain.
  file(READ ${ONDRIX_DEF} def_text)
  string(REGEX REPLACE "@[0-9]+( +@)" "\\1" def_text "${def_text}")
  set(ONDRIX_DEF ${CMAKE_BINARY_DIR}/ondrix64.def)
  file(WRITE ${ONDRIX_DEF} "${def_text}")
endif()

add_library(ondrix SHARED ${ONDRIX_LOGIC_SOURCES} src/platform/platform_win32.cpp
                          src/frame/dllmain.cpp src/frame/version.rc ${ONDRIX_DEF})
set_target_properties(ondrix PROPERTIES OUTPUT_NAME ONDRIX PREFIX "" IMPORT_PREFIX "lib"
                                        IMPORT_SUFFIX ".dll.a")
target_include_directories(ondrix PUBLIC include PRIVATE src)
target_compile_options(ondrix PRIVATE -fno-exceptions)
target_link_libraries(ondrix PRIVATE pcap_import oleaut32)
target_link_options(ondrix PRIVATE -static -static-libgcc -static-libstdc++)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(ondrix PRIVATE -Wl,--kill-at)
  # Hosts built with mingw call the exports by their decorated __stdcall symbols
  # (OndrixInit@0); the linker's own import library would only know the plain
  # names that --kill-at leaves. Rebuild it from the .def with -k, so that the
  # decorated symbols bind to the plain-named exports.
  add_custom_command(TARGET ondrix POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} -k -d ${ONDRIX_DEF} -D ONDRIX.dll -l $<TARGET_LINKER_FILE:ondrix>
      VERBATIM)
endif()
