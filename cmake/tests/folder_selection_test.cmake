# The configure step's folder selection against this source tree: what each PW_FOLDERS name
# selects, and the names it refuses (no folder, a made-up folder below a real one, a name that
# would match as a pattern, the fuzz targets without PW_FUZZ). Each case runs
# folder_selection_case.cmake in a process of its own.
#   cmake -DSOURCE_DIR=<tree> -DALL=<folders, comma-separated> -P folder_selection_test.cmake
# A case: the names (comma-separated, as PW_FOLDERS with ";"), then the folders selected, or
# "refused <name>" when the configure step must stop naming that name, or "needs PW_FUZZ" when it
# must stop asking for -DPW_FUZZ=ON; a third field, when there is one, is the value of PW_FUZZ.
# The policies of the configure step (empty list elements kept, quoted names never variables).
cmake_minimum_required(VERSION 3.20)
set(cases
  "common/log/nosuch|refused common/log/nosuch"
  "testing,desktop/shell/nosuch|refused desktop/shell/nosuch"
  "desktop/shell/db/LocalDb.h|refused desktop/shell/db/LocalDb.h"
  "des.top|refused des.top"
  "common.log|refused common.log"
  "common/log/../http|refused common/log/../http"
  "common//log|refused common//log"
  "./common|refused ./common"
  "common,,testing|common/log common/util common/http common/json testing"
  "common,testing,|common/log common/util common/http common/json testing"
  ",common/log|common/log"
  ",|ALL"
  "/|refused /"
  "common/|common/log common/util common/http common/json"
  "common//|common/log common/util common/http common/json"
  "xcap|xcap/shared xcap/bindings xcap/client"
  "desktop/shell/db|desktop/shell"
  "desktop/shell/db/|desktop/shell"
  "common/log,testing|common/log testing"
  "fuzz|needs PW_FUZZ"
  "fuzz/|needs PW_FUZZ"
  "common,testing,fuzz|needs PW_FUZZ"
  "fuzz|fuzz|ON"
  "|ALL")
set(failures 0)
foreach(c IN LISTS cases)
  string(REPLACE "|" ";" parts "${c}")
  list(GET parts 0 given)
  list(GET parts 1 expected)
  set(fuzz OFF)
  list(LENGTH parts fields)
  if(fields GREATER 2)
    list(GET parts 2 fuzz)
  endif()
  if(expected MATCHES "^ALL$")
    string(REPLACE "," " " expected "${ALL}")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${SOURCE_DIR} -DALL=${ALL} -DGIVEN=${given} -DPW_FUZZ=${fuzz}
            -P ${CMAKE_CURRENT_LIST_DIR}/folder_selection_case.cmake
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(text "${out}${err}")
  string(REPLACE "," ";" shown "${given}")
  if(expected MATCHES "^refused (.*)$")
    set(named "${CMAKE_MATCH_1}")
    string(FIND "${text}" "PW_FOLDERS: \"${named}\" is no folder of this build" at)
    if(rc EQUAL 0 OR at EQUAL -1)
      message("FAIL: PW_FOLDERS=\"${shown}\" should stop naming \"${named}\"; it gave:\n${text}")
      math(EXPR failures "${failures} + 1")
    endif()
  elseif(expected STREQUAL "needs PW_FUZZ")
    if(rc EQUAL 0 OR NOT text MATCHES "-DPW_FUZZ=ON")
      message("FAIL: PW_FOLDERS=\"${shown}\" without PW_FUZZ should stop asking for -DPW_FUZZ=ON; it gave:\n${text}")
      math(EXPR failures "${failures} + 1")
    endif()
  else()
    if(NOT rc EQUAL 0 OR NOT text MATCHES "selected: ([^\n]*)" OR NOT CMAKE_MATCH_1 STREQUAL expected)
      message("FAIL: PW_FOLDERS=\"${shown}\" should select \"${expected}\"; it gave:\n${text}")
      math(EXPR failures "${failures} + 1")
    endif()
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} case(s) of the folder selection failed")
endif()
list(LENGTH cases n)
message("${n} cases of the folder selection passed")
