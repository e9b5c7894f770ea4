# Layers that point one way, enforced by the compiler. No target gets the source tree as an include
# directory. Each library instead gets an include root of its own in the build tree that holds only
# its own folder (a symbolic link to it), and sees the folders of the libraries it links through
# their roots. A header of a layer the library does not link is therefore not found: a wrong-way
# include fails to compile rather than waiting for a review.

# kv_expose_folder(<target> <folder> [ONLY <entry>...] [EXCLUDE <entry>...])
#   Makes "<folder>/..." includable for <target> and for everything that links it. With ONLY, the
#   root's <folder> holds just those entries (for a folder shared by two libraries); EXCLUDE leaves
#   entries out (a subfolder that is a library of its own). <folder> may be nested ("ui/terminal").
function(kv_expose_folder target folder)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "ONLY;EXCLUDE")
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  set(source ${PROJECT_SOURCE_DIR}/${folder})
  file(REMOVE_RECURSE ${root})
  if(NOT ARG_ONLY AND NOT ARG_EXCLUDE)
    get_filename_component(parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${source} ${root}/${folder} SYMBOLIC)
  else()
    if(ARG_ONLY)
      set(entries ${ARG_ONLY})
    else()
      # Re-globbed at every build, so that a header added to the folder is seen without a manual
      # re-configure.
      file(GLOB entries CONFIGURE_DEPENDS LIST_DIRECTORIES true RELATIVE ${source} ${source}/*)
      list(REMOVE_ITEM entries ${ARG_EXCLUDE} CMakeLists.txt)
    endif()
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(entry ${entries})
      if(NOT EXISTS ${source}/${entry})
        message(FATAL_ERROR "kv_expose_folder(${target}): ${folder}/${entry} does not exist")
      endif()
      file(CREATE_LINK ${source}/${entry} ${root}/${folder}/${entry} SYMBOLIC)
    endforeach()
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# kv_add_library(<name> <folder> [SOURCES <file>...] [ONLY <entry>...] [EXCLUDE <entry>...]
#                [LINKS <library>...] [PRIVATE_LINKS <library>...])
#   A static library of the *.cpp files directly in <folder> (or of SOURCES, relative to <folder>
#   unless absolute),
#   exposing <folder> as kv_expose_folder does. LINKS are the layers its headers and sources may
#   use, passed on to whatever links it; PRIVATE_LINKS are linked but not shown to its users.
function(kv_add_library name folder)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "" "SOURCES;ONLY;EXCLUDE;LINKS;PRIVATE_LINKS")
  set(source ${PROJECT_SOURCE_DIR}/${folder})
  if(ARG_SOURCES)
    set(sources)
    foreach(file ${ARG_SOURCES})
      cmake_path(ABSOLUTE_PATH file BASE_DIRECTORY ${source})
      list(APPEND sources ${file})
    endforeach()
  else()
    file(GLOB sources CONFIGURE_DEPENDS ${source}/*.cpp)
  endif()
  add_library(${name} STATIC ${sources})
  set(expose_options)
  if(ARG_ONLY)
    list(APPEND expose_options ONLY ${ARG_ONLY})
  endif()
  if(ARG_EXCLUDE)
    list(APPEND expose_options EXCLUDE ${ARG_EXCLUDE})
  endif()
  kv_expose_folder(${name} ${folder} ${expose_options})
  target_link_libraries(${name} PUBLIC ${ARG_LINKS} PRIVATE ${ARG_PRIVATE_LINKS})
  set_property(GLOBAL APPEND PROPERTY KV_LIBRARIES ${name})
endfunction()
