# Helpers that keep the per-folder CMake files to a line each.

set(QV_WARNINGS -Wall -Wextra -Wpedantic -Wshadow=local -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  # clang spells the local-shadowing warning differently.
  set(QV_WARNINGS -Wall -Wextra -Wpedantic -Wshadow-uncaptured-local -Wno-unused-parameter)
elseif(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
       AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12's middle end reports -Wrestrict, -Wstringop-overflow and -Warray-bounds
  # inside libstdc++'s own std::string, std::vector and std::copy code once -O2 or
  # -O3 inlines it into ours: known false positives of that release (fixed in
  # later ones), on paths the library never takes. A clean Release build printed
  # 64 of them and nothing else, so the three are off for GCC 12 alone; other
  # compilers keep them and so still find real ones.
  list(APPEND QV_WARNINGS -Wno-restrict -Wno-stringop-overflow -Wno-array-bounds)
endif()
# A warning is an error wherever GCC builds the product, for developers and CI
# alike: one set of flags keeps ccache's entries shared between the two, and a
# real warning fails the build that made it. clang builds (fuzzing, sanitizers)
# keep warnings as warnings; -DQV_WERROR=OFF turns it off for a build in progress.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  option(QV_WERROR "Treat every compiler warning as an error" ON)
else()
  option(QV_WERROR "Treat every compiler warning as an error" OFF)
endif()
if(QV_WERROR)
  list(APPEND QV_WARNINGS -Werror)
endif()

# qv_library(name [DIR folder] [EXCLUDE files...] [EXCLUDE_DIRS folders...] LINKS targets...)
# A static library of every .cpp below the folder. Headers are reached from the
# repository root ("platform/rtl/classes.h"), so an include names its layer.
# A library sees only its own folder and the folders of the libraries it links:
# its include folder is a folder of links in the build tree (layers/<name>/)
# to those source folders alone, so an include that points upwards fails to
# compile, not only to link. Without DIR the library is a group of the
# libraries it links, seeing what they see.
function(qv_library name)
  cmake_parse_arguments(A "" "DIR" "LINKS;EXCLUDE;EXCLUDE_DIRS" ${ARGN})
  set(folders ${A_DIR})
  foreach(l IN LISTS A_LINKS)
    get_property(seen GLOBAL PROPERTY QV_LAYER_FOLDERS_${l})
    list(APPEND folders ${seen})
  endforeach()
  list(REMOVE_DUPLICATES folders)
  set_property(GLOBAL PROPERTY QV_LAYER_FOLDERS_${name} ${folders})
  set_property(GLOBAL PROPERTY QV_LAYER_DIR_${name} ${A_DIR})
  set_property(GLOBAL APPEND PROPERTY QV_LAYER_LIBRARIES ${name})
  set(view ${CMAKE_BINARY_DIR}/layers/${name})
  _qv_layer_view(${view} ${folders})
  set(srcs)
  if(A_DIR)
    file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${A_DIR}/*.cpp ${CMAKE_SOURCE_DIR}/${A_DIR}/*.c)
  endif()
  foreach(ex IN LISTS A_EXCLUDE)
    list(REMOVE_ITEM srcs ${CMAKE_SOURCE_DIR}/${A_DIR}/${ex})
  endforeach()
  foreach(ex IN LISTS A_EXCLUDE_DIRS)
    list(FILTER srcs EXCLUDE REGEX "^${CMAKE_SOURCE_DIR}/${A_DIR}/${ex}/")
  endforeach()
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${view})
    target_compile_options(${name} PRIVATE ${QV_WARNINGS})
    target_link_libraries(${name} PUBLIC ${A_LINKS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${view})
    target_link_libraries(${name} INTERFACE ${A_LINKS})
  endif()
endfunction()

# The include folder of a library: a link to each source folder it may see,
# under the same relative path. A folder inside one already linked needs no
# link of its own (and making one would write into the source tree).
function(_qv_layer_view view)
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(folder IN LISTS ARGN)
    set(covered FALSE)
    foreach(other IN LISTS ARGN)
      string(FIND "${folder}/" "${other}/" at)
      if(at EQUAL 0 AND NOT other STREQUAL folder)
        set(covered TRUE)
      endif()
    endforeach()
    if(NOT covered)
      get_filename_component(parent ${view}/${folder} DIRECTORY)
      file(MAKE_DIRECTORY ${parent})
      file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
    endif()
  endforeach()
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
