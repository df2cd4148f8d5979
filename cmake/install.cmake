# Install rules, the pkg-config file and the CMake package. Everything
# installed is relative to the prefix, so `cmake --install --prefix DIR`
# works for any DIR, and the installed tree can be moved as a whole.

# "lib" unless the user chooses otherwise: GNUInstallDirs would pick lib64 on
# some distributions and lib/<multiarch> for /usr on Debian, and the install
# tree and archives should look the same everywhere.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR)
  set(CMAKE_INSTALL_LIBDIR lib CACHE PATH "Object code libraries (lib)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ONDRIX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ondrix)
set(ONDRIX_DATA_DIR ${CMAKE_INSTALL_DATADIR}/ondrix)

install(TARGETS ondrix EXPORT ondrixTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# ondrix.h includes the others where they apply (the OLE stand-ins off Windows,
# the loader on Windows); all are installed, so one tree serves either host.
install(FILES include/ondrix.h include/ondrix_ole.h include/ondrix_load.h include/ondrix_load_messages.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The example host, and its source to learn from.
if(NOT WIN32)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(ondrix-capture PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_LIBDIR}")
  else()
    set_target_properties(ondrix-capture PROPERTIES INSTALL_RPATH "\$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
else()
  ondrix_version_resource(ondrix-capture VFT_APP "ONDRIX example capture host" ondrix-capture.exe)
  target_link_options(ondrix-capture PRIVATE ${ONDRIX_STRIP_RELEASE})
endif()
install(TARGETS ondrix-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY examples/ondrix-capture DESTINATION ${ONDRIX_DATA_DIR}/examples)
install(FILES examples/sample.pcap DESTINATION ${ONDRIX_DATA_DIR})

# VB hosts: the module, and the samples (found when installing, so files
# added since the last configure are included).
if(WIN32)
  install(FILES include/ondrix.bas DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY examples/vb6 examples/vba DESTINATION ${ONDRIX_DATA_DIR}/examples OPTIONAL)
endif()

install(FILES README.md CHANGELOG.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} FILES_MATCHING PATTERN "*.md")

# pkg-config: the prefix is found from the .pc file's own place.
set(ONDRIX_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ONDRIX_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH up /prefix/${ONDRIX_PC_DIR} /prefix)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(ONDRIX_PC_PREFIX "\${pcfiledir}/${up}")
endif()
foreach(kind LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${kind}}")
    set(ONDRIX_PC_${kind} ${CMAKE_INSTALL_${kind}})
  else()
    set(ONDRIX_PC_${kind} "\${prefix}/${CMAKE_INSTALL_${kind}}")
  endif()
endforeach()
if(WIN32)
  # libONDRIX.dll.a; the DLL imports wpcap.dll itself.
  set(ONDRIX_PC_LIBNAME ONDRIX)
  set(ONDRIX_PC_LIBS_PRIVATE "")
else()
  # Only a static link would need libpcap named; -lpcap rather than
  # Requires.private: libpcap, whose own .pc asks for more than the link needs.
  set(ONDRIX_PC_LIBNAME ondrix)
  set(ONDRIX_PC_LIBS_PRIVATE -lpcap)
endif()
configure_file(cmake/ondrix.pc.in ${CMAKE_BINARY_DIR}/install/ondrix.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/ondrix.pc DESTINATION ${ONDRIX_PC_DIR})

# CMake package: find_package(ondrix 0.4) and ondrix::ondrix. Before 1.0 a
# minor release may change the header (helpers, constants), so a request for
# 0.4 accepts 0.4.x only; the binary interface itself is tracked by the SONAME.
configure_package_config_file(cmake/ondrixConfig.cmake.in
    ${CMAKE_BINARY_DIR}/install/ondrixConfig.cmake INSTALL_DESTINATION ${ONDRIX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/ondrixConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/install/ondrixConfig.cmake
              ${CMAKE_BINARY_DIR}/install/ondrixConfigVersion.cmake
        DESTINATION ${ONDRIX_CMAKE_DIR})
install(EXPORT ondrixTargets NAMESPACE ondrix:: DESTINATION ${ONDRIX_CMAKE_DIR})
