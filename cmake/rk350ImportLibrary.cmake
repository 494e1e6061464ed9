# Run with cmake -P after a DLL is linked: makes an import library that C and
# C++ callers can link with. The DLL exports plain names (--kill-at), while a
# stdcall caller refers to Name@N; the linker's own import library offers the
# plain names only. From the .def that the link wrote ("Name = Name@N @k") we
# make one that lists Name@N, and dlltool --kill-at turns it into an import
# library whose Name@N symbols import the DLL's plain Name.
#   -DDEF=<linker .def> -DDLL=<dll file name> -DSTDCALL_DEF=<out .def> -DOUT=<import lib> -DDLLTOOL=<dlltool>
file(STRINGS ${DEF} lines)
set(text "LIBRARY ${DLL}\nEXPORTS\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]+([A-Za-z0-9_]+) = ([A-Za-z0-9_]+@[0-9]+)")
    string(APPEND text "    ${CMAKE_MATCH_2}\n")
  elseif(line MATCHES "^[ \t]+([A-Za-z0-9_]+)( @[0-9]+)?")
    string(APPEND text "    ${CMAKE_MATCH_1}\n")
  endif()
endforeach()
file(WRITE ${STDCALL_DEF} "${text}")
execute_process(COMMAND ${DLLTOOL} --kill-at --def ${STDCALL_DEF} --dllname ${DLL} --output-lib ${OUT}
  RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "dlltool failed on ${STDCALL_DEF}")
endif()
