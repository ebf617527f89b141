# GoogleTest: the system's package on Linux; for the Windows cross build the
# sources that Debian's googletest package ships are built with the cross compiler.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  set(gtest_src /usr/src/googletest)
  if(NOT EXISTS ${gtest_src}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest not found: install libgtest-dev, libgmock-dev and googletest")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${gtest_src} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
endif()
include(GoogleTest)

# orbel_test(<name> SOURCES ... LIBS ...): one test program, each case its own CTest test
# (and so its own process, which keeps the process-wide singletons of the converter apart).
function(orbel_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(TARGET orbel_test_support)
    target_link_libraries(${name} PRIVATE orbel_test_support)
  endif()
  orbel_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    return()  # built to prove it compiles; run under wine by its own stage
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES TIMEOUT 60)
endfunction()
