# The command-line check of a whole drive tree against `find` listing its
# shortcuts: `Linkmend check` as a process, no window, with and without
# repairs, the results checked against what the tree planted. Run:
# bench/cli-bench --size M
add_executable(cli-bench ${CMAKE_CURRENT_LIST_DIR}/CliBench.cpp)
target_link_libraries(cli-bench PRIVATE bench_tree Qt6::Core)
target_compile_definitions(cli-bench PRIVATE LINKMEND_PROGRAM="$<TARGET_FILE:Linkmend>")
add_dependencies(cli-bench make-tree Linkmend)

# The checks alone (no timings) on the small tree S, made once in the build
# folder, apart from the scan benchmark's so the two may run at once.
add_test(NAME cli_bench_tree_s_results
         COMMAND cli-bench --size S --check-only --dir ${CMAKE_CURRENT_BINARY_DIR}/tree-s-cli)
set_tests_properties(cli_bench_tree_s_results PROPERTIES TIMEOUT 600)
