# The pcap headers. The cross build must not see /usr/include (it would pick
# up glibc's headers), so libpcap's public headers are copied into the build.
if(WIN32)
  set(ONDRIX_PCAP_INCLUDE ${CMAKE_BINARY_DIR}/pcap-include)
  if(NOT EXISTS /usr/include/pcap/pcap.h)
    message(FATAL_ERROR "libpcap headers not found: install libpcap-dev (scripts/setup)")
  endif()
  file(COPY /usr/include/pcap.h /usr/include/pcap DESTINATION ${ONDRIX_PCAP_INCLUDE})

  # Import library for wpcap.dll from our own list of the functions we call.
  set(ONDRIX_WPCAP_IMPLIB ${CMAKE_BINARY_DIR}/libwpcap_import.a)
  add_custom_command(
    OUTPUT ${ONDRIX_WPCAP_IMPLIB}
    COMMAND ${CMAKE_DLLTOOL} -d ${CMAKE_SOURCE_DIR}/cmake/wpcap.def -l ${ONDRIX_WPCAP_IMPLIB}
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/wpcap.def
    COMMENT "Making the wpcap.dll import library")
  add_custom_target(wpcap_import DEPENDS ${ONDRIX_WPCAP_IMPLIB})
  add_library(pcap_import INTERFACE)
  add_dependencies(pcap_import wpcap_import)
  target_include_directories(pcap_import INTERFACE ${ONDRIX_PCAP_INCLUDE})
  target_link_libraries(pcap_import INTERFACE ${ONDRIX_WPCAP_IMPLIB})
  add_library(pcap_headers INTERFACE)
  target_include_directories(pcap_headers INTERFACE ${ONDRIX_PCAP_INCLUDE})
else()
  find_library(ONDRIX_LIBPCAP pcap REQUIRED)
  add_library(pcap_headers INTERFACE)
endif()
