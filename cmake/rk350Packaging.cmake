# Installation: both flavours with their public headers, a CMake package
# (find_package(rk350) gives rk350::rk350 and rk350::rk350_virtual), pkg-config
# files, on Windows the import libraries and .def files, the capture tool and
# the Python binding.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RK350_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/rk350)

install(TARGETS rk350 rk350_virtual EXPORT rk350Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/rk350 DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT rk350Targets NAMESPACE rk350:: DESTINATION ${RK350_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/rk350Config.cmake.in
  ${PROJECT_BINARY_DIR}/rk350Config.cmake INSTALL_DESTINATION ${RK350_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/rk350ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/rk350Config.cmake ${PROJECT_BINARY_DIR}/rk350ConfigVersion.cmake
  DESTINATION ${RK350_CMAKE_DIR})

# pkg-config: rk350 (hardware) and rk350_virtual. The prefix is taken from the
# .pc file's own place, so `cmake --install --prefix` anywhere works.
file(RELATIVE_PATH RK350_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
foreach(flavour rk350 rk350_virtual)
  if(flavour STREQUAL "rk350")
    set(RK350_PC_DESCRIPTION "RK350 ISA driver library (hardware: x86 port access)")
  else()
    set(RK350_PC_DESCRIPTION "RK350 ISA driver library (virtual card)")
  endif()
  set(RK350_PC_NAME ${flavour})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/rk350.pc.in ${PROJECT_BINARY_DIR}/${flavour}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${flavour}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

if(WIN32)
  # Import libraries that stdcall callers link with (see rk350ImportLibrary.cmake),
  # replacing the linker's; and both .def files: <name>.def as the link wrote
  # it (plain export = decorated name), <name>-stdcall.def listing Name@N for
  # making import libraries with other tools (dlltool --kill-at, lib /def).
  find_program(RK350_DLLTOOL NAMES ${CMAKE_C_COMPILER_TARGET}-dlltool i686-w64-mingw32-dlltool dlltool)
  foreach(flavour rk350 rk350_virtual)
    if(RK350_DLLTOOL)
      add_custom_command(TARGET ${flavour} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -DDEF=${PROJECT_BINARY_DIR}/${flavour}.def -DDLL=${flavour}.dll
          -DSTDCALL_DEF=${PROJECT_BINARY_DIR}/${flavour}-stdcall.def -DOUT=$<TARGET_LINKER_FILE:${flavour}>
          -DDLLTOOL=${RK350_DLLTOOL} -P ${PROJECT_SOURCE_DIR}/cmake/rk350ImportLibrary.cmake
        VERBATIM)
      install(FILES ${PROJECT_BINARY_DIR}/${flavour}-stdcall.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
    endif()
    install(FILES ${PROJECT_BINARY_DIR}/${flavour}.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endforeach()
endif()

if(TARGET rk350-capture)
  install(TARGETS rk350-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The Python binding, where Debian's python3 looks for site packages, with
# the library directory recorded at install time.
set(RK350_PYTHON_INSTALL_DIR lib/python3/dist-packages CACHE STRING "Where the Python package is installed")
if(NOT WIN32)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/bindings/python/rk350 DESTINATION ${RK350_PYTHON_INSTALL_DIR}
    PATTERN __pycache__ EXCLUDE)
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    file(WRITE \"\$ENV{DESTDIR}\${prefix}/${RK350_PYTHON_INSTALL_DIR}/rk350/_install_paths.py\"
      \"# Written by cmake --install.\\nLIBRARY_DIR = r'\${prefix}/${CMAKE_INSTALL_LIBDIR}'\\n\")")
endif()
