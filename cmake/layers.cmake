# Reads cmake/layers.txt: sets ACEKIT_LAYERS (every layer of src/, lowest
# first) and ACEKIT_USES_<layer> (the layers it may include) in the caller's
# scope. Used by the build and by the layering check alike, so the matrix is
# written in one place only.
function(acekit_read_layers file)
  file(STRINGS ${file} _lines)
  set(_layers)
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^[ \t]*#" OR _line MATCHES "^[ \t]*$")
      continue()
    endif()
    if(NOT _line MATCHES "^([a-z_]+):(.*)$")
      message(FATAL_ERROR "${file}: cannot read '${_line}'")
    endif()
    set(_name ${CMAKE_MATCH_1})
    string(STRIP "${CMAKE_MATCH_2}" _uses)
    separate_arguments(_uses UNIX_COMMAND "${_uses}")
    set(ACEKIT_USES_${_name} ${_uses} PARENT_SCOPE)
    if(NOT _name STREQUAL "tools")
      list(APPEND _layers ${_name})
    endif()
  endforeach()
  set(ACEKIT_LAYERS ${_layers} PARENT_SCOPE)
endfunction()
