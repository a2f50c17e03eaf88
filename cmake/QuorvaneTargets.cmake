# Helpers that keep the per-folder CMake files to a line each.

set(QV_WARNINGS -Wall -Wextra -Wpedantic -Wshadow=local -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # clang spells the local-shadowing warning differently.
  set(QV_WARNINGS -Wall -Wextra -Wpedantic -Wshadow-uncaptured-local -Wno-unused-parameter)
endif()

# qv_library(name DIR folder [EXCLUDE files...] [EXCLUDE_DIRS folders...] LINKS targets...)
# A static library of every .cpp below the folder. Headers are reached from the
# repository root ("platform/rtl/classes.h"), so an include names its layer.
function(qv_library name)
  cmake_parse_arguments(A "" "DIR" "LINKS;EXCLUDE;EXCLUDE_DIRS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${A_DIR}/*.cpp ${CMAKE_SOURCE_DIR}/${A_DIR}/*.c)
  foreach(ex IN LISTS A_EXCLUDE)
    list(REMOVE_ITEM srcs ${CMAKE_SOURCE_DIR}/${A_DIR}/${ex})
  endforeach()
  foreach(ex IN LISTS A_EXCLUDE_DIRS)
    list(FILTER srcs EXCLUDE REGEX "^${CMAKE_SOURCE_DIR}/${A_DIR}/${ex}/")
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${QV_WARNINGS})
    target_link_libraries(${name} PUBLIC ${A_LINKS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${A_LINKS})
  endif()
endfunction()

# qv_test(name DIR folder LINKS targets...)
# One GoogleTest binary per top-level folder; each of its cases is a CTest test
# of its own, listed when ctest starts (DISCOVERY_MODE PRE_TEST: a build does not
# run every binary). Cases whose name contains "Oracle" run an outside tool and
# carry the CTest label "oracle". A case that skips shows as skipped in CTest.
include(GoogleTest)
function(qv_test name)
  cmake_parse_arguments(A "" "DIR" "LINKS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${A_DIR}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${srcs} ${CMAKE_SOURCE_DIR}/tests/support/ci_oracle_listener.cpp)
  target_compile_options(${name} PRIVATE ${QV_WARNINGS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${A_LINKS} qv_test_support GTest::gtest GTest::gtest_main)
  target_compile_definitions(${name} PRIVATE
    QV_SOURCE_DIR="${CMAKE_SOURCE_DIR}" QV_FIXTURES_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures"
    QV_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name} TEST_FILTER "-*Oracle*:*oracle*" WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                       DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60)
  gtest_discover_tests(${name} TEST_FILTER "*Oracle*:*oracle*" WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                       DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 PROPERTIES LABELS oracle)
endfunction()
