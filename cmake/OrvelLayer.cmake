# orvel_layer(<target> DEPS <targets...>): a static library of the .cpp files
# in the calling directory (not its subdirectories).
function(orvel_layer target)
  cmake_parse_arguments(L "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(srcs)
    add_library(${target} STATIC ${srcs})
    target_link_libraries(${target} PUBLIC ${L_DEPS} PRIVATE orvel_warnings)
  else()
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${L_DEPS})
  endif()
endfunction()

# orvel_test(<name> LIBS <targets...>): one GoogleTest program of the .cpp
# files in the calling directory, registered with CTest.
function(orvel_test name)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main orvel_warnings)
  if(CMAKE_CROSSCOMPILING)
    # One run of the whole program under the emulator (Wine): starting one
    # process per test case would cost more than the tests themselves.
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    if(ORVEL_CROSS_TEST_FIXTURE)
      set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${ORVEL_CROSS_TEST_FIXTURE})
    endif()
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
endfunction()
