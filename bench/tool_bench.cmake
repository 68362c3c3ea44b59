# Linkmend's command line against find, bfs and fd, warm, cold and through a
# share that answers slowly (delay-fs, a FUSE pass-through made here). Needs
# bfs, fd-find, fuse3 and libfuse3-dev: bench/setup-tools.sh installs them.
# Run: bench/tool-bench --mode warm|cold|share --size S|M|L
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(FUSE3 QUIET IMPORTED_TARGET fuse3)
endif()
if(FUSE3_FOUND)
  add_executable(delay-fs ${CMAKE_CURRENT_LIST_DIR}/DelayFs.c)
  target_link_libraries(delay-fs PRIVATE PkgConfig::FUSE3)
  add_executable(tool-bench ${CMAKE_CURRENT_LIST_DIR}/ToolBench.cpp)
  target_link_libraries(tool-bench PRIVATE bench_tree Qt6::Core)
  target_compile_definitions(tool-bench PRIVATE LINKMEND_PROGRAM="$<TARGET_FILE:Linkmend>"
                                                DELAY_FS_PROGRAM="$<TARGET_FILE:delay-fs>")
  add_dependencies(tool-bench make-tree Linkmend delay-fs)
endif()
