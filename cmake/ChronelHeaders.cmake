# chronel_publish_headers(<target> <prefix>)
#
# Gives a target an include directory that holds its own headers and nothing
# else, as "<prefix>/<path>.h": <build>/include/<target>/<prefix>/ links to the
# headers listed among the target's sources. A folder that does not link the
# target cannot include its headers, so the dependency order is kept by the
# build rather than by convention. Call it after the target's last
# target_sources().
function(chronel_publish_headers target prefix)
  get_target_property(sources ${target} SOURCES)
  set(dir ${CMAKE_BINARY_DIR}/include/${target})
  # Start afresh so that a header taken off the list stops being reachable.
  file(REMOVE_RECURSE ${dir})
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "\\.h$")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR} OUTPUT_VARIABLE from)
    file(RELATIVE_PATH relative ${CMAKE_CURRENT_SOURCE_DIR} ${from})
    cmake_path(GET relative PARENT_PATH sub)
    file(MAKE_DIRECTORY ${dir}/${prefix}/${sub})
    file(CREATE_LINK ${from} ${dir}/${prefix}/${relative} SYMBOLIC)
  endforeach()
  if(NOT EXISTS ${dir})
    message(FATAL_ERROR "chronel_publish_headers: ${target} lists no headers")
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${dir}>)
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${dir}>)
  endif()
endfunction()
