# Generates the table of every export declared in the public headers, for the
# tests that check the export table, the calling convention and the answers
# to bad input. Each export is declared in the headers as
#   RK350_API(type) Name(arguments);   (may span lines)
#   cmake -DOUT=<header> -DHEADERS=<a.h|b.h> -P this
string(REPLACE "|" ";" HEADERS "${HEADERS}")
set(table "")
set(listing "")
set(calls "")
set(sim_calls "")
foreach(header IN LISTS HEADERS)
  get_filename_component(header_name "${header}" NAME)
  # The declarations without comments, on one line each, with semicolons
  # (list separators to CMake) turned into '~'.
  file(READ "${header}" text)
  string(REPLACE ";" "~" text "${text}")
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" " " text "${text}")
  string(REGEX REPLACE "[ \t\r\n]+" " " text "${text}")
  string(REGEX MATCHALL "RK350_API\\([^)]*\\) [A-Za-z0-9_]+ ?\\([^)]*\\)~" declarations "${text}")
  if(NOT declarations)
    message(FATAL_ERROR "${header_name}: no declarations found")
  endif()
  foreach(line IN LISTS declarations)
    if(NOT line MATCHES "^RK350_API\\(([^)]*)\\) ([A-Za-z0-9_]+) ?\\((.*)\\)~$")
      message(FATAL_ERROR "${header_name}: cannot read the declaration: ${line}")
    endif()
    set(type "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    set(args "${CMAKE_MATCH_3}")
    # Stack bytes of the arguments on 32-bit x86: a double takes 8, every
    # other argument one 32-bit slot.
    set(bytes 0)
    set(count 0)
    set(braces "")
    if(NOT args STREQUAL "void")
      string(REPLACE "," ";" arg_list "${args}")
      foreach(arg IN LISTS arg_list)
        string(STRIP "${arg}" arg)
        if(arg MATCHES "\\*" OR NOT arg MATCHES "^(const )?double ")
          math(EXPR bytes "${bytes} + 4")
        else()
          math(EXPR bytes "${bytes} + 8")
        endif()
        math(EXPR count "${count} + 1")
        if(braces STREQUAL "")
          set(braces "{}")
        else()
          string(APPEND braces ", {}")
        endif()
      endforeach()
    endif()
    if(type STREQUAL "double")
      set(kind "kReturnsDouble")
    elseif(type STREQUAL "void")
      set(kind "kReturnsNothing")
    elseif(type MATCHES "\\*")
      set(kind "kReturnsPointer")
    else()
      set(kind "kReturnsInteger")
    endif()
    string(APPEND table "    {\"${name}\", \"${header_name}\", ${bytes}, ${count}, ${kind}},\n")
    string(APPEND listing "${name} ${header_name} ${bytes}\n")
    if(header_name STREQUAL "rk350_sim.h")
      string(APPEND sim_calls "RK350_SIM_EXPORT_CALL(${name}, ${kind}, (${braces}))\n")
    else()
      string(APPEND calls "RK350_EXPORT_CALL(${name}, \"${header_name}\", ${kind}, (${braces}))\n")
    endif()
  endforeach()
endforeach()
file(WRITE "${OUT}.tmp" "// Generated from the public headers by cmake/export_table.cmake.
#pragma once

namespace rk350::exports {

enum ReturnKind { kReturnsInteger, kReturnsDouble, kReturnsPointer, kReturnsNothing };

struct Export {
  const char* name;
  const char* header;
  unsigned argumentBytes;  // on 32-bit x86
  unsigned argumentCount;  // one register or stack slot each on x64
  ReturnKind returns;
};

inline constexpr Export kExports[] = {
${table}};

}  // namespace rk350::exports
")
# Beside it, every export called with value-initialised arguments (0, 0.0,
# null), for an includer that defines RK350_EXPORT_CALL(name, header, kind,
# arguments) and, for the virtual card's calls, RK350_SIM_EXPORT_CALL(name,
# kind, arguments).
get_filename_component(out_dir "${OUT}" DIRECTORY)
set(CALLS "${out_dir}/export_calls.inc")
file(WRITE "${CALLS}.tmp" "// Generated from the public headers by cmake/export_table.cmake.
#ifdef RK350_EXPORT_CALL
${calls}#endif
#ifdef RK350_SIM_EXPORT_CALL
${sim_calls}#endif
")
# And as plain text, one export per line: name, header, argument bytes on
# 32-bit x86 (for the checks that read a DLL image without running it).
set(LISTING "${out_dir}/exports.txt")
file(WRITE "${LISTING}.tmp" "${listing}")
# Touch the outputs only when they change, so dependants do not rebuild.
foreach(f "${OUT}" "${CALLS}" "${LISTING}")
  file(COPY_FILE "${f}.tmp" "${f}" ONLY_IF_DIFFERENT)
  file(REMOVE "${f}.tmp")
endforeach()
