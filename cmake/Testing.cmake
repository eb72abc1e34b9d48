# veltran_add_gtest(NAME SOURCES ... LIBS ...): one GoogleTest program, registered with CTest.
# Native programs register each test case; a Windows program is one CTest entry run under Wine,
# since every Wine start costs about a second.
function(veltran_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main veltran_warnings)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tool ${CMAKE_SOURCE_DIR}/tests)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30)
  endif()
endfunction()
