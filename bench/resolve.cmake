# Resolving shortcuts whose targets are missing: 1,000 links on a drive of
# 100,000 entries, 100 of them findable. Run: bench/resolve_bench [folder]
# (the tree is built in a temporary folder below `folder`, default $TMPDIR).
add_executable(resolve_bench ${CMAKE_CURRENT_LIST_DIR}/ResolveBench.cpp)
target_link_libraries(resolve_bench PRIVATE shell platform Qt6::Core)
