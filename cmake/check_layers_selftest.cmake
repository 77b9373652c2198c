# Runs the layering check on small trees of its own: a clean one must pass,
# and each planted wrong include must make it fail and be named. Run as
#   cmake -DWORK=<scratch dir> -P cmake/check_layers_selftest.cmake
cmake_minimum_required(VERSION 3.25)
set(_checker ${CMAKE_CURRENT_LIST_DIR}/check_layers.cmake)

function(make_tree root)
  file(REMOVE_RECURSE ${root})
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/layers.txt ${root}/cmake/layers.txt COPYONLY)
  file(WRITE ${root}/src/common/base.h "#pragma once\n#include <cstdint>\n")
  file(WRITE ${root}/src/platform/files.h "#pragma once\n#include \"common/base.h\"\n")
  file(WRITE ${root}/src/compress/coder.h "#include \"platform/files.h\"\n#include <sys/stat.h>\n")
  file(WRITE ${root}/src/decompress/decoder.h "#include \"common/base.h\"\n")
  file(WRITE ${root}/src/ops/run.cpp
       "#include \"compress/coder.h\"\n#include \"decompress/decoder.h\"\n")
  file(WRITE ${root}/tools/cli/main.cpp "#include <exports.h>\n#include \"ui.h\"\n")
  file(WRITE ${root}/tools/cli/ui.h "#include \"common/host_types.h\"\n")
endfunction()

function(run_check root expect_fail name)
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${root} -P ${_checker}
                  RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(expect_fail AND _rc EQUAL 0)
    message(FATAL_ERROR "${name}: the check passed a planted include")
  elseif(NOT expect_fail AND NOT _rc EQUAL 0)
    message(FATAL_ERROR "${name}: the check failed a clean tree:\n${_out}${_err}")
  endif()
  set(_output "${_out}${_err}" PARENT_SCOPE)
endfunction()

set(_root ${WORK}/layers_selftest)
make_tree(${_root})
run_check(${_root} OFF "clean tree")

# file to plant in | line appended | what the report must name
set(_plants
    "src/common/base.h|#include \"platform/files.h\"|src/common/base.h: #include platform/files.h"
    "src/compress/coder.h|#include \"decompress/decoder.h\"|src/compress/coder.h: #include decompress"
    "src/platform/files.h|#include <ops/run.h>|src/platform/files.h: #include ops/run.h"
    "src/decompress/decoder.h|#include \"../compress/coder.h\"|climbs out"
    "src/platform/files.h|#include \"other.h\"|src/platform/files.h: #include other.h"
    "tools/cli/main.cpp|#include \"platform/files.h\"|tools/cli/main.cpp: #include platform"
    "src/extra/thing.h|#pragma once|src/extra: a folder")
foreach(_plant IN LISTS _plants)
  string(REPLACE "|" ";" _parts "${_plant}")
  list(GET _parts 0 _file)
  list(GET _parts 1 _line)
  list(GET _parts 2 _named)
  make_tree(${_root})
  file(APPEND ${_root}/${_file} "${_line}\n")
  run_check(${_root} ON "${_file} + ${_line}")
  string(FIND "${_output}" "${_named}" _at)
  if(_at EQUAL -1)
    message(FATAL_ERROR "${_file} + ${_line}: the report does not name it:\n${_output}")
  endif()
endforeach()
file(REMOVE_RECURSE ${_root})
message(STATUS "layering check: clean tree passes, every planted include fails")
