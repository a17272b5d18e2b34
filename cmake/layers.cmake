# The folders are layers, and each layer's headers are reached through an
# include root of its own: a folder in the build tree that holds one link,
# named after the layer's folder, to the layer's sources. A target is given
# the roots of the layers it links and of no others, so that an include of
# a layer above it ("request/..." in platform/) fails to compile instead of
# quietly working through a shared top-level include folder.

# The top of the source tree, which names the layers' folders. The main
# project and the fuzzers' project both set it.
if(NOT DEFINED TAVIK_TOP)
  message(FATAL_ERROR "set TAVIK_TOP before including layers.cmake")
endif()

# Makes the headers of the folder that calls it (its path below TAVIK_TOP,
# "request" or "host/serve") reachable to `target` and to whatever links it,
# as "request/term_finder.h". SCOPE is PUBLIC by default, INTERFACE for a
# header-only layer. EXCLUDE names sub-folders that are layers above this
# one ("serve" in host/): they are left out of its root and get their own.
function(tavik_layer_headers target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "SCOPE" "EXCLUDE")
  if(NOT ARG_SCOPE)
    set(ARG_SCOPE PUBLIC)
  endif()
  file(RELATIVE_PATH folder ${TAVIK_TOP} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" root_name ${folder})
  set(root ${CMAKE_BINARY_DIR}/layers/${root_name})
  if(ARG_EXCLUDE)
    # A folder of its own, linking each entry of the layer's folder but the
    # excluded ones; entries added later join at the next configuration.
    file(GLOB entries CONFIGURE_DEPENDS RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
         ${CMAKE_CURRENT_SOURCE_DIR}/*)
    list(REMOVE_ITEM entries ${ARG_EXCLUDE})
    if(IS_SYMLINK ${root}/${folder})
      file(REMOVE ${root}/${folder})  # a root made before the exclusion
    endif()
    file(MAKE_DIRECTORY ${root}/${folder})
    foreach(entry ${entries})
      if(NOT EXISTS ${root}/${folder}/${entry})
        file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${entry}
             ${root}/${folder}/${entry} SYMBOLIC)
      endif()
    endforeach()
  else()
    get_filename_component(link_parent ${root}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${link_parent})
    if(NOT EXISTS ${root}/${folder})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${root}/${folder} SYMBOLIC)
    endif()
  endif()
  target_include_directories(${target} ${ARG_SCOPE} ${root})
endfunction()

# The options every library of the search extension is built with: no
# exceptions (none may cross the extension's C boundary) and nothing visible
# outside the shared library but what it exports by name.
function(tavik_extension_code target)
  target_compile_options(${target} PRIVATE -fno-exceptions)
  set_target_properties(${target} PROPERTIES
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()
