# ONDRIX.dll: exports by plain name and ordinal, version resource, runtime
# linked statically so it imports only system DLLs. 32-bit is the product;
# the 64-bit build serves 64-bit VBA hosts.

# Identical sources give identical binaries: without this, ld stamps the link
# time into every PE header and no two builds of a commit compare equal.
add_link_options(-Wl,--no-insert-timestamp)

# A version resource from the project version for a shipped binary.
# kind is VFT_DLL or VFT_APP.
function(ondrix_version_resource target kind description filename)
  set(v ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
  if(PROJECT_VERSION_TWEAK STREQUAL "")
    string(APPEND v .0)
  else()
    string(APPEND v .${PROJECT_VERSION_TWEAK})
  endif()
  set(ONDRIX_RC_VERSION_DOTS ${v})
  string(REPLACE "." ", " ONDRIX_RC_VERSION_COMMAS ${v})
  set(ONDRIX_RC_FILETYPE ${kind})
  set(ONDRIX_RC_DESCRIPTION ${description})
  set(ONDRIX_RC_FILENAME ${filename})
  get_filename_component(ONDRIX_RC_INTERNAL_NAME ${filename} NAME_WE)
  set(rc ${CMAKE_BINARY_DIR}/version/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/src/frame/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

# Release binaries ship without symbols or debug sections.
set(ONDRIX_STRIP_RELEASE $<$<CONFIG:Release,MinSizeRel>:-s>)

set(ONDRIX_DEF ${CMAKE_SOURCE_DIR}/src/frame/ondrix.def)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # x64 has one calling convention and no @N decoration: the same list, plain.
  file(READ ${ONDRIX_DEF} def_text)
  string(REGEX REPLACE "@[0-9]+( +@)" "\\1" def_text "${def_text}")
  # Made at configure time: a change of the list must configure again.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ONDRIX_DEF})
  set(ONDRIX_DEF ${CMAKE_BINARY_DIR}/ondrix64.def)
  file(WRITE ${ONDRIX_DEF} "${def_text}")
endif()

add_library(ondrix SHARED ${ONDRIX_LOGIC_SOURCES} src/platform/platform_win32.cpp
                          src/platform/adapter_details_win32.cpp
                          src/frame/dllmain.cpp ${ONDRIX_DEF})
ondrix_version_resource(ondrix VFT_DLL "ONDRIX packet capture and sending for Visual Basic" ONDRIX.dll)
set_target_properties(ondrix PROPERTIES OUTPUT_NAME ONDRIX PREFIX "" IMPORT_PREFIX "lib"
                                        IMPORT_SUFFIX ".dll.a")
target_include_directories(ondrix PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                           PRIVATE src)
target_compile_options(ondrix PRIVATE -fno-exceptions)
target_link_libraries(ondrix PRIVATE pcap_import oleaut32)
target_link_options(ondrix PRIVATE -static -static-libgcc -static-libstdc++ ${ONDRIX_STRIP_RELEASE})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(ondrix PRIVATE -Wl,--kill-at)
  # Hosts built with mingw call the exports by their decorated __stdcall symbols
  # (OndrixInit@0); the linker's own import library would only know the plain
  # names that --kill-at leaves. Rebuild it from the .def with -k, so that the
  # decorated symbols bind to the plain-named exports. dlltool names the
  # library's members and symbols after the path given to -l: a bare name
  # keeps the build directory out of them.
  add_custom_command(TARGET ondrix POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} -k -d ${ONDRIX_DEF} -D ONDRIX.dll -l $<TARGET_LINKER_FILE_NAME:ondrix>
      WORKING_DIRECTORY $<TARGET_LINKER_FILE_DIR:ondrix>
      VERBATIM)
endif()
