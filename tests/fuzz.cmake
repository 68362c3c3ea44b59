# Fuzzing of the shortcut codec (libFuzzer; clang only, skipped otherwise).
#
# LnkLoadFuzzer (loading a shortcut and getting its path) and
# LnkRewriteFuzzer (changing its target, writing it back, loading the result)
# link the codec library, which the sanitizer build instruments for them. The
# test suite runs each briefly with a fixed seed over a corpus that our own
# link writer makes (lnk_fuzz_seeds, lnk_rewrite_seeds), plus the
# Windows-made samples in tests/data/lnk-samples and the inputs that once
# broke the codec in tests/data/lnk-malformed. For a longer run, see the
# section "Sanitizers and fuzzing" of docs/design.md.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(STATUS "Shortcut codec fuzz targets skipped: need clang")
  return()
endif()

add_executable(LnkLoadFuzzer ${CMAKE_CURRENT_LIST_DIR}/fuzz/LnkLoadFuzzer.cpp)
target_include_directories(LnkLoadFuzzer PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(LnkLoadFuzzer PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
target_link_options(LnkLoadFuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(LnkLoadFuzzer PRIVATE lnk)
set_target_properties(LnkLoadFuzzer PROPERTIES AUTOMOC OFF)

add_executable(lnk_fuzz_seeds ${CMAKE_CURRENT_LIST_DIR}/fuzz/LnkFuzzSeeds.cpp)
target_include_directories(lnk_fuzz_seeds PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(lnk_fuzz_seeds PRIVATE lnk)
set_target_properties(lnk_fuzz_seeds PROPERTIES AUTOMOC OFF)

set(lnk_fuzz_corpus ${CMAKE_CURRENT_BINARY_DIR}/lnk-fuzz-corpus)
add_test(NAME lnk_fuzz_seeds COMMAND lnk_fuzz_seeds ${lnk_fuzz_corpus})
set_tests_properties(lnk_fuzz_seeds PROPERTIES FIXTURES_SETUP lnk_fuzz_corpus)
add_test(NAME lnk_fuzz_short
  COMMAND LnkLoadFuzzer -runs=20000 -seed=1 -max_len=8192
          -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/lnk-fuzz-
          ${lnk_fuzz_corpus} ${CMAKE_CURRENT_SOURCE_DIR}/data/lnk-samples
          ${CMAKE_CURRENT_SOURCE_DIR}/data/lnk-malformed
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(lnk_fuzz_short PROPERTIES FIXTURES_REQUIRED lnk_fuzz_corpus TIMEOUT 600)

# Changing the target: inputs are a target description and a link
# (tests/fuzz/RewriteInput.h), so the seeds pair links with targets.
add_executable(LnkRewriteFuzzer ${CMAKE_CURRENT_LIST_DIR}/fuzz/LnkRewriteFuzzer.cpp)
target_include_directories(LnkRewriteFuzzer PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_compile_options(LnkRewriteFuzzer PRIVATE -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer)
target_link_options(LnkRewriteFuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
target_link_libraries(LnkRewriteFuzzer PRIVATE lnk)
set_target_properties(LnkRewriteFuzzer PROPERTIES AUTOMOC OFF)

add_executable(lnk_rewrite_seeds ${CMAKE_CURRENT_LIST_DIR}/fuzz/LnkRewriteSeeds.cpp)
target_include_directories(lnk_rewrite_seeds PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(lnk_rewrite_seeds PRIVATE lnk)
set_target_properties(lnk_rewrite_seeds PROPERTIES AUTOMOC OFF)

set(lnk_rewrite_corpus ${CMAKE_CURRENT_BINARY_DIR}/lnk-rewrite-corpus)
add_test(NAME lnk_rewrite_seeds
  COMMAND lnk_rewrite_seeds ${lnk_rewrite_corpus} ${CMAKE_CURRENT_SOURCE_DIR}/data/lnk-samples
          ${CMAKE_CURRENT_SOURCE_DIR}/data/lnk-malformed)
set_tests_properties(lnk_rewrite_seeds PROPERTIES FIXTURES_SETUP lnk_rewrite_corpus)
add_test(NAME lnk_rewrite_fuzz_short
  COMMAND LnkRewriteFuzzer -runs=20000 -seed=1 -max_len=8192
          -artifact_prefix=${CMAKE_CURRENT_BINARY_DIR}/lnk-rewrite-
          ${lnk_rewrite_corpus} ${CMAKE_CURRENT_SOURCE_DIR}/data/lnk-malformed/rewrite
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set_tests_properties(lnk_rewrite_fuzz_short PROPERTIES FIXTURES_REQUIRED lnk_rewrite_corpus TIMEOUT 600)
