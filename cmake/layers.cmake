# The layers of the program as static libraries, each with an include root of its own.
#
# tarvix_layer(<target> FOLDERS <folder>... [DEPS <target>...] [PRIVATE_DEPS <target>...]
#              [SOURCES <file>...])
# The include root of a layer holds links to exactly its own folders; it sees the folders of the
# layers it depends on through their roots. An include that runs the wrong way (device/ including
# update/, say) finds no header and the build fails.
function(tarvix_layer target)
  cmake_parse_arguments(ARG "" "" "FOLDERS;DEPS;PRIVATE_DEPS;SOURCES" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/layers/${target})
  foreach(folder ${ARG_FOLDERS})
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endforeach()
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${root})
  target_link_libraries(${target} PUBLIC ${ARG_DEPS} PRIVATE ${ARG_PRIVATE_DEPS})
endfunction()
