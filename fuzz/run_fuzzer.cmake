# Runs one fuzz target over its seeds (cmake -P, from CTest): FUZZER, WORK,
# ARGS and CORPUS as fuzz/CMakeLists.txt passes them.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(dirs ${WORK})
if(EXISTS ${CORPUS})
  list(APPEND dirs ${CORPUS})
endif()
execute_process(COMMAND ${FUZZER} ${ARGS} -artifact_prefix=${WORK}/ ${dirs} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${FUZZER} failed (${rc}); the input that failed is in the working folder as crash-*, leak-* or timeout-*")
endif()
