# The scan of a whole drive tree against `find` listing its shortcuts: the
# main window offscreen, real scans with and without repairs, the results
# checked against what the tree planted. Run: bench/scan-bench --size M
# (see bench/README-performance.md).
add_executable(scan-bench ${CMAKE_CURRENT_LIST_DIR}/ScanBench.cpp)
target_link_libraries(scan-bench PRIVATE app bench_tree Qt6::Widgets)
target_compile_definitions(scan-bench PRIVATE LINKMEND_PROGRAM="$<TARGET_FILE:Linkmend>")
add_dependencies(scan-bench make-tree Linkmend)

# The checks alone (no timings) on the small tree S, made once in the build
# folder and put back as planted before every run.
add_test(NAME scan_bench_tree_s_results
         COMMAND scan-bench --size S --check-only --dir ${CMAKE_CURRENT_BINARY_DIR}/tree-s)
set_tests_properties(scan_bench_tree_s_results PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 600)
