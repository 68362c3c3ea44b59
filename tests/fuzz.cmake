# Fuzzing of the shortcut loader (libFuzzer; clang only, skipped otherwise).
#
# LnkLoadFuzzer builds the codec's sources with -fsanitize=fuzzer,address,
# undefined. The test suite runs it briefly with a fixed seed over a corpus
# that lnk_fuzz_seeds writes with our own link writer, plus the Windows-made
# samples in tests/data/lnk-samples. For a longer run, from the build folder:
#   tests/lnk_fuzz_seeds fuzz-corpus
#   tests/LnkLoadFuzzer -max_total_time=3600 -max_len=8192 fuzz-corpus \
#       ../tests/data/lnk-samples
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(STATUS "Shortcut loader fuzz target skipped: needs clang")
  return()
endif()

set(lnk_codec_sources
  ${PROJECT_SOURCE_DIR}/shell/LnkFile.cpp
  ${PROJECT_SOURCE_DIR}/shell/LnkBuilder.cpp
  ${PROJECT_SOURCE_DIR}/shell/AnsiCodec.cpp
  ${PROJECT_SOURCE_DIR}/shell/WinVariables.cpp)

add_executable(LnkLoadFuzzer ${CMAKE_CURRENT_LIST_DIR}/fuzz/LnkLoadFuzzer.cpp ${lnk_codec_sources})
target_include_directories(LnkLoadFuzzer PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(LnkLoadFuzzer PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
target_link_options(LnkLoadFuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(LnkLoadFuzzer PRIVATE Qt6::Core)
set_target_properties(LnkLoadFuzzer PROPERTIES AUTOMOC OFF)

add_executable(lnk_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/fuzz/LnkFuzzSeeds.cpp ${lnk_codec_sources})
target_include_directories(lnk_fuzz_seeds PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(lnk_fuzz_seeds PRIVATE Qt6::Core)
set_target_properties(lnk_fuzz_seeds PROPERTIES AUTOMOC OFF)

set(lnk_fuzz_corpus ${CMAKE_CURRENT_BINARY_DIR}/lnk-fuzz-corpus)
add_test(NAME lnk_fuzz_seeds COMMAND lnk_fuzz_seeds ${lnk_fuzz_corpus})
set_tests_properties(lnk_fuzz_seeds PROPERTIES FIXTURES_SETUP lnk_fuzz_corpus)
add_test(NAME lnk_fuzz_short
  COMMAND LnkLoadFuzzer -runs=20000 -seed=1 -max_len=8192
          -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/lnk-fuzz-
          ${lnk_fuzz_corpus} ${CMAKE_CURRENT_SOURCE_DIR}/data/lnk-samples
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(lnk_fuzz_short PROPERTIES FIXTURES_REQUIRED lnk_fuzz_corpus TIMEOUT 600)
