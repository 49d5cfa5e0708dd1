# Helpers shared by every folder.

# System code (and its tests) keeps its narrow text in GBK, the ANSI code page of the target Windows.
# (A fuzzing build with clang keeps UTF-8: clang has no GBK execution character set.)
function(pw_system_code target)
  if(PW_FUZZ)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  else()
    target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=GBK
      -Wall -Wextra -Wno-unused-parameter)
  endif()
endfunction()

# pw_add_gtest(<name> LABEL <label> SOURCES ... LIBS ... [RESOURCE_LOCK <lock>] [TIMEOUT <s>])
# One GoogleTest executable per folder, registered with CTest under the folder's label.
function(pw_add_gtest name)
  cmake_parse_arguments(T "" "LABEL;RESOURCE_LOCK;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  pw_system_code(${name})
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(PW_SANITIZE)
    # A sanitizer build runs several times slower, more so with the suite's programs side by
    # side on a busy machine: four times the time-out leaves the slowest programs (the net-disk
    # client's, with its many uploads) room to finish, while a program that hangs still fails.
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 4")
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT})
  if(PW_SANITIZE)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${PW_SANITIZER_ENV}")
  endif()
  if(T_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
endfunction()

# The sanitizer runtime options of every test in a PW_SANITIZE build (sanitize/env.sh): stop at
# the first finding, and the suppressions of outside libraries in sanitize/.
get_filename_component(PW_SANITIZER_DIR ${CMAKE_CURRENT_LIST_DIR}/../sanitize ABSOLUTE)
file(STRINGS ${PW_SANITIZER_DIR}/env.sh pw_sanitizer_lines REGEX "^export ")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PW_SANITIZER_DIR}/env.sh)
set(PW_SANITIZER_ENV)
foreach(line IN LISTS pw_sanitizer_lines)
  string(REGEX REPLACE "^export " "" line "${line}")
  string(REPLACE "$d" "${PW_SANITIZER_DIR}" line "${line}")
  list(APPEND PW_SANITIZER_ENV "${line}")
endforeach()
