# The index of a drive with 250,000 entries of one name against as many
# names all their own, fed as a scan's walk hands listings over (no disk).
# Run: bench/index-bench [--folders N]
add_executable(index-bench ${CMAKE_CURRENT_LIST_DIR}/IndexBench.cpp)
target_link_libraries(index-bench PRIVATE shell platform Qt6::Core)
