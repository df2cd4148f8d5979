# libFuzzer builds (ONDRIX_FUZZ): everything is compiled with coverage
# instrumentation and ASan + UBSan, so the library's own code guides the
# fuzzer and any fault stops it. Needs clang (CC=clang CXX=clang++).
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ONDRIX_FUZZ needs clang: configure with CC=clang CXX=clang++")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer -g)
add_link_options(-fsanitize=address,undefined)
# Build the fuzz_* targets by name: the shared library and the examples are
# not meant for this configuration (a sanitized .so can't link on its own).
