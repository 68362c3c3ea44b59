# Drive trees for the scan benchmark: folders, files and shortcuts (some
# broken, some with moved targets, some in hidden folders), the same for the
# same seed. Run: bench/make-tree S|M|L <folder>
add_library(bench_tree STATIC ${CMAKE_CURRENT_LIST_DIR}/TreeGenerator.cpp ${CMAKE_CURRENT_LIST_DIR}/TreeGenerator.h
            ${CMAKE_CURRENT_LIST_DIR}/TreeChecks.cpp ${CMAKE_CURRENT_LIST_DIR}/TreeChecks.h)
target_include_directories(bench_tree PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_tree PUBLIC shell Qt6::Core)

add_executable(make-tree ${CMAKE_CURRENT_LIST_DIR}/MakeTree.cpp)
target_link_libraries(make-tree PRIVATE bench_tree)
