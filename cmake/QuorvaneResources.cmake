# Resources linked into the program, found at run time with FindResource.
#
# qv_embed_resource(target TYPE type NAME name FILE path)
#   type: a standard type (RT_BITMAP, RT_CURSOR, RT_GROUP_CURSOR, RT_ICON,
#         RT_GROUP_ICON, RT_RCDATA, ...), a number, or a text such as PNG;
#   name: a number (101 or #101) or a text such as ILMAIN (looked up in any case).
# The file is turned into C++ at build time, so it may itself be made by a build
# step. For an executable the data is linked in directly; for a static library it
# goes to every executable that links the library (a static library would drop it,
# as nothing refers to it by name).
#
# Run as a script (cmake -P) with QV_RES_IN, QV_RES_OUT, QV_RES_TYPE and
# QV_RES_NAME, this file writes one generated source.

set(QV_RESOURCES_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

# The C++ expression for a type or name: MAKEINTRESOURCE(n) or a string literal.
function(_qv_resource_id_expr value out)
  set(standard CURSOR 1 BITMAP 2 ICON 3 MENU 4 DIALOG 5 STRING 6 FONTDIR 7 FONT 8 ACCELERATOR 9
               RCDATA 10 MESSAGETABLE 11 GROUP_CURSOR 12 GROUP_ICON 14 VERSION 16 ANICURSOR 21
               ANIICON 22 HTML 23 MANIFEST 24)
  if(value MATCHES "^RT_(.+)$")
    list(FIND standard "${CMAKE_MATCH_1}" at)
    if(at LESS 0)
      message(FATAL_ERROR "qv_embed_resource: unknown resource type ${value}")
    endif()
    math(EXPR at "${at} + 1")
    list(GET standard ${at} number)
    set(${out} "MAKEINTRESOURCE(${number})" PARENT_SCOPE)
  elseif(value MATCHES "^#?([0-9]+)$")
    if(CMAKE_MATCH_1 GREATER 65535)
      message(FATAL_ERROR "qv_embed_resource: resource number ${value} above 65535")
    endif()
    set(${out} "MAKEINTRESOURCE(${CMAKE_MATCH_1})" PARENT_SCOPE)
  elseif(value MATCHES "^[A-Za-z0-9_.+ -]+$")
    string(TOUPPER "${value}" upper)
    set(${out} "\"${upper}\"" PARENT_SCOPE)
  else()
    message(FATAL_ERROR "qv_embed_resource: '${value}' is no resource type or name")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED QV_RES_IN)
  _qv_resource_id_expr("${QV_RES_TYPE}" type_expr)
  _qv_resource_id_expr("${QV_RES_NAME}" name_expr)
  file(READ "${QV_RES_IN}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  # Break the array into lines of 16 bytes so compilers and diffs stay happy.
  string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line_pattern)
  string(REGEX REPLACE "(${line_pattern})" "\\1\n" bytes "${bytes}")
  if(size EQUAL 0)
    set(bytes "0")
  endif()
  file(WRITE "${QV_RES_OUT}.tmp"
"// Generated from ${QV_RES_IN}; do not edit.
#include \"platform/win/resources.h\"

namespace {
const uint8_t kData[] = {
${bytes}
};
const TProgramResourceRegistrar kRegistrar(${type_expr}, ${name_expr}, kData, ${size});
}  // namespace
")
  file(RENAME "${QV_RES_OUT}.tmp" "${QV_RES_OUT}")
  return()
endif()

function(qv_embed_resource target)
  cmake_parse_arguments(A "" "TYPE;NAME;FILE" "" ${ARGN})
  if(NOT A_TYPE OR NOT A_NAME OR NOT A_FILE)
    message(FATAL_ERROR "qv_embed_resource(${target} TYPE type NAME name FILE path): all three are needed")
  endif()
  # Checks the type and name now, at configure time, rather than at build time.
  _qv_resource_id_expr("${A_TYPE}" unused_type)
  _qv_resource_id_expr("${A_NAME}" unused_name)
  get_filename_component(file "${A_FILE}" ABSOLUTE)
  # "CROCE3+" and "CROCE3-" must not share a generated file.
  string(REPLACE "+" "_plus" id_name "${A_NAME}")
  string(REPLACE "-" "_minus" id_name "${id_name}")
  string(MAKE_C_IDENTIFIER "${A_TYPE}_${id_name}" id)
  set(out "${CMAKE_CURRENT_BINARY_DIR}/qv_resources/${target}/${id}.cpp")
  add_custom_command(OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DQV_RES_IN=${file} -DQV_RES_OUT=${out} -DQV_RES_TYPE=${A_TYPE}
            -DQV_RES_NAME=${A_NAME} -P ${QV_RESOURCES_SCRIPT}
    DEPENDS "${file}" "${QV_RESOURCES_SCRIPT}"
    COMMENT "Embedding ${A_TYPE} ${A_NAME} from ${A_FILE}"
    VERBATIM)

  # A generated source can only be compiled by a target of the folder whose
  # custom command makes it, so each folder gets its own object library.
  file(RELATIVE_PATH folder "${CMAKE_BINARY_DIR}" "${CMAKE_CURRENT_BINARY_DIR}")
  string(MAKE_C_IDENTIFIER "${folder}" folder_id)
  set(objects qv_resources_${target}_${folder_id})
  if(NOT TARGET ${objects})
    add_library(${objects} OBJECT)
    target_include_directories(${objects} PRIVATE ${CMAKE_SOURCE_DIR})
    get_target_property(kind ${target} TYPE)
    if(kind STREQUAL "STATIC_LIBRARY" OR kind STREQUAL "INTERFACE_LIBRARY")
      target_sources(${target} INTERFACE $<TARGET_OBJECTS:${objects}>)
      add_dependencies(${target} ${objects})
    else()
      target_link_libraries(${target} PRIVATE ${objects})
    endif()
  endif()
  target_sources(${objects} PRIVATE "${out}")
endfunction()
