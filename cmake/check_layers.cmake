# The layering check: every #include in src/ and tools/ must name a header
# that cmake/layers.txt lets the including file's layer use. Run as
#   cmake -DROOT=<source tree> -P cmake/check_layers.cmake
# Fails, listing each offending line, when a file includes upwards or
# sideways, includes by a path that is no layer's, or when src/ holds a
# folder the matrix does not know.
cmake_minimum_required(VERSION 3.25)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check_layers.cmake")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/layers.cmake)
acekit_read_layers(${ROOT}/cmake/layers.txt)

# What a host may include, as it is installed.
set(_public exports.h common/host_types.h acekit/acekit.h)
set(_problems)

file(GLOB _dirs LIST_DIRECTORIES true RELATIVE ${ROOT}/src ${ROOT}/src/*)
foreach(_dir IN LISTS _dirs)
  if(IS_DIRECTORY ${ROOT}/src/${_dir} AND NOT _dir IN_LIST ACEKIT_LAYERS)
    list(APPEND _problems "src/${_dir}: a folder that cmake/layers.txt does not place")
  endif()
endforeach()

# Checks one file. `layer` is its layer, or "tools" for the host programs.
function(check_file file layer)
  file(STRINGS ${ROOT}/${file} _lines REGEX "^[ \t]*#[ \t]*include")
  get_filename_component(_here ${ROOT}/${file} DIRECTORY)
  set(_uses ${ACEKIT_USES_${layer}})
  list(JOIN _uses " " _uses_text)
  list(JOIN _public " " _public_text)
  foreach(_line IN LISTS _lines)
    if(NOT _line MATCHES "#[ \t]*include[ \t]*([<\"])([^>\"]+)[>\"]")
      continue()
    endif()
    set(_quoted OFF)
    if(CMAKE_MATCH_1 STREQUAL "\"")
      set(_quoted ON)
    endif()
    set(_path ${CMAKE_MATCH_2})
    set(_top "")
    if(_path MATCHES "^([^/]+)/")
      set(_top ${CMAKE_MATCH_1})
    endif()
    set(_bad "")
    if(_path MATCHES "(^|/)\\.\\.(/|$)")
      set(_bad "climbs out with ..")
    elseif(layer STREQUAL "tools")
      if(_path IN_LIST _public AND "public" IN_LIST _uses)
        # a public header, as a host includes it
      elseif(_quoted AND NOT _top AND EXISTS ${_here}/${_path})
        # the program's own header beside it
      elseif(_top IN_LIST ACEKIT_LAYERS OR _quoted)
        set(_bad "a host sees only the public headers (${_public_text})")
      endif()
    elseif(_top IN_LIST ACEKIT_LAYERS)
      if(NOT _top STREQUAL layer AND NOT _top IN_LIST _uses)
        set(_bad "${layer} may use only ${layer} ${_uses_text}")
      endif()
    elseif(_path IN_LIST _public AND "public" IN_LIST _uses)
      # a face of the library implements a public header
    elseif(_quoted)
      set(_bad "a library header is named by its layer's path")
    endif()
    if(_bad)
      list(APPEND _problems "${file}: #include ${_path}: ${_bad}")
    endif()
  endforeach()
  set(_problems ${_problems} PARENT_SCOPE)
endfunction()

foreach(_layer IN LISTS ACEKIT_LAYERS)
  file(GLOB_RECURSE _files RELATIVE ${ROOT} ${ROOT}/src/${_layer}/*.h ${ROOT}/src/${_layer}/*.hpp
       ${ROOT}/src/${_layer}/*.c ${ROOT}/src/${_layer}/*.cpp ${ROOT}/src/${_layer}/*.inc)
  foreach(_file IN LISTS _files)
    check_file(${_file} ${_layer})
  endforeach()
endforeach()
file(GLOB_RECURSE _files RELATIVE ${ROOT} ${ROOT}/tools/*.h ${ROOT}/tools/*.hpp ${ROOT}/tools/*.c
     ${ROOT}/tools/*.cpp)
foreach(_file IN LISTS _files)
  check_file(${_file} tools)
endforeach()

if(_problems)
  list(LENGTH _problems _count)
  list(JOIN _problems "\n  " _report)
  message("layering: ${_count} include(s) against cmake/layers.txt:\n  ${_report}")
  message(FATAL_ERROR "layering check failed")
endif()
message(STATUS "layering: every include in src/ and tools/ points down")
