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
