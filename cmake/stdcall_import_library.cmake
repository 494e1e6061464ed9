# Rebuilds a DLL's import library so that callers compiled against the
# header (which reference the stdcall-decorated names, Name@N) link to the
# plain names the DLL exports.
#   cmake -DDEF=<linker .def> -DDLL=<dll file name> -DLIB=<import library> -DDLLTOOL=<dlltool> -P this
file(STRINGS "${DEF}" lines)
set(decorated "EXPORTS\n")
foreach(line IN LISTS lines)
  # "    Name = Name@8 @3" -> "    Name@8"
  if(line MATCHES "^[ \t]+[A-Za-z0-9_]+ = ([A-Za-z0-9_]+@[0-9]+)")
    string(APPEND decorated "    ${CMAKE_MATCH_1}\n")
  elseif(line MATCHES "^[ \t]+([A-Za-z0-9_]+)( @[0-9]+)?")
    string(APPEND decorated "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
set(decorated_def "${LIB}.decorated.def")
file(WRITE "${decorated_def}" "${decorated}")
execute_process(COMMAND "${DLLTOOL}" --kill-at --dllname "${DLL}" --def "${decorated_def}" --output-lib "${LIB}"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dlltool failed for ${DLL}")
endif()
