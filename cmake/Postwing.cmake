# Helpers shared by every folder.

# System code (and its tests) keeps its narrow text in GBK, as on the original platform.
function(pw_system_code target)
  target_compile_options(${target} PRIVATE -finput-charset=UTF-8 -fexec-charset=GBK
    -Wall -Wextra -Wno-unused-parameter)
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
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT})
  if(T_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
endfunction()
