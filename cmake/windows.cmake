# ONDRIX.dll: 32-bit, __stdcall exports by plain name and ordinal, version
# resource, runtime linked statically so it imports only system DLLs.
add_library(ondrix SHARED ${ONDRIX_LOGIC_SOURCES} src/platform/platform_win32.cpp
                          src/frame/dllmain.cpp src/frame/version.rc src/frame/ondrix.def)
set_target_properties(ondrix PROPERTIES OUTPUT_NAME ONDRIX PREFIX "" IMPORT_PREFIX "lib"
                                        IMPORT_SUFFIX ".dll.a")
target_include_directories(ondrix PUBLIC include PRIVATE src)
target_compile_options(ondrix PRIVATE -fno-exceptions)
target_link_libraries(ondrix PRIVATE pcap_import oleaut32)
target_link_options(ondrix PRIVATE -static -static-libgcc -static-libstdc++ -Wl,--kill-at)

# Hosts built with mingw call the exports by their decorated __stdcall symbols
# (OndrixInit@0); the linker's own import library would only know the plain
# names that --kill-at leaves. Rebuild it from the .def with -k, so that the
# decorated symbols bind to the plain-named exports.
add_custom_command(TARGET ondrix POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} -k -d ${CMAKE_SOURCE_DIR}/src/frame/ondrix.def -D ONDRIX.dll
            -l $<TARGET_LINKER_FILE:ondrix>
    VERBATIM)
