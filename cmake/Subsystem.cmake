# linkmend_subsystem(<name> [EXCLUDE <files...>] LINKS <targets...>)
# Makes the static library of one subsystem folder from every source in it.
#
# Each library sees its own headers and those of the libraries it links, and
# no others: its include folder in the build tree holds a single link,
# <name> -> the source folder, so "#include "<name>/X.h"" finds X.h in this
# library and in the libraries that link it, and a header of a library that
# is not linked is not found at all.
function(linkmend_subsystem name)
  cmake_parse_arguments(ARG "" "" "EXCLUDE;LINKS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  add_library(${name} STATIC ${sources})
  set(include_root ${PROJECT_BINARY_DIR}/include/${name})
  file(MAKE_DIRECTORY ${include_root})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${include_root}/${name} SYMBOLIC)
  target_include_directories(${name} PUBLIC ${include_root})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS})
endfunction()
