# libondrix.so against the system libpcap; only the 16 exports are visible.
add_library(ondrix_core STATIC ${ONDRIX_LOGIC_SOURCES} src/platform/platform_posix.cpp
                               src/platform/adapter_details_posix.cpp)
target_include_directories(ondrix_core PUBLIC include src)
set_target_properties(ondrix_core PROPERTIES POSITION_INDEPENDENT_CODE ON
                                             CXX_VISIBILITY_PRESET hidden)
target_compile_options(ondrix_core PRIVATE -fno-exceptions)

add_library(ondrix SHARED src/frame/exports.cpp)
target_link_libraries(ondrix PRIVATE -Wl,--whole-archive ondrix_core -Wl,--no-whole-archive
                                     ${ONDRIX_LIBPCAP})
target_include_directories(ondrix PUBLIC $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>)
target_link_options(ondrix PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/src/frame/ondrix.map
                    -Wl,--no-undefined)
# The binary interface is the 16 exports and the two records: the SONAME
# changes with the major version only.
set_target_properties(ondrix PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/src/frame/ondrix.map
                                        VERSION ${PROJECT_VERSION}
                                        SOVERSION ${PROJECT_VERSION_MAJOR})
