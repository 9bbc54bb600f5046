# Test helpers shared by every test folder.
#
# am_add_gtest(<target> SOURCES ... [LIBS ...])
#   Builds a GoogleTest executable with tests/support on its include path.
#   Natively each test case becomes a CTest test (discovered when the tests
#   run, so nothing runs at build time).
#   In the Windows build the whole executable is one CTest test that runs
#   under Wine through the cross-compiling emulator, with the Wine fixture;
#   in a Linux build for another processor, one CTest test that runs under
#   that emulator (qemu).
if(NOT AM_BUILD_TESTS)
  function(am_add_gtest)
  endfunction()
  return()
endif()

enable_testing()

if(CMAKE_CROSSCOMPILING)
  if(NOT TARGET gtest)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/_gtest EXCLUDE_FROM_ALL)
  endif()
  set(AM_GTEST_LIBS gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(AM_GTEST_LIBS GTest::gtest GTest::gtest_main)
endif()

# am_wine_test(<test> [LABELS ...])
#   Marks a test that runs under Wine: it needs the Wine fixture, and where
#   the fixture found that this machine cannot run the build's Wine (32-bit
#   Wine on a kernel without 32-bit support) it exits 77, reported as skipped.
function(am_wine_test test)
  cmake_parse_arguments(ARG "" "" "LABELS" ${ARGN})
  set_tests_properties(${test} PROPERTIES FIXTURES_REQUIRED wine LABELS "wine;${ARG_LABELS}"
                       SKIP_RETURN_CODE 77)
endfunction()

function(am_add_gtest target)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${target} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} ${AM_GTEST_LIBS} am_test_support am_owners am_warnings)
  if(WIN32)
    add_test(NAME ${target} COMMAND ${target})
    am_wine_test(${target} LABELS ${ARG_LABELS})
  elseif(CMAKE_CROSSCOMPILING)
    add_test(NAME ${target} COMMAND ${target})
    set_tests_properties(${target} PROPERTIES LABELS "emulated;${ARG_LABELS}")
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
