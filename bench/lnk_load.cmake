# Loading shortcuts and getting their paths: 10,000 links our writer made,
# read back from files in a temporary folder. Run: bench/lnk_load_bench
add_executable(lnk_load_bench ${CMAKE_CURRENT_LIST_DIR}/LnkLoadBench.cpp)
target_link_libraries(lnk_load_bench PRIVATE shell Qt6::Core)
