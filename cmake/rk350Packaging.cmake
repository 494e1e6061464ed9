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
  # The import libraries (rebuilt so that stdcall callers link, see
  # stdcall_import_library.cmake) go with the ARCHIVE rule above; beside them
  # both .def files: <name>.def as the link wrote it (plain export = Name@N),
  # <name>.lib.decorated.def listing Name@N for making import libraries with
  # other tools (dlltool --kill-at).
  foreach(flavour rk350 rk350_virtual)
    install(FILES ${PROJECT_BINARY_DIR}/${flavour}.def ${PROJECT_BINARY_DIR}/${flavour}.lib.decorated.def
      DESTINATION ${CMAKE_INSTALL_LIBDIR})
  endforeach()
endif()

if(TARGET rk350-capture)
  install(TARGETS rk350-capture RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# The Python binding, where Debian's python3 looks for site packages, with
# the library directory recorded at install time: <prefix>/lib/python3/
# dist-packages for the prefix /usr (Debian's own packages),
# <prefix>/lib/python3.X/dist-packages for any other prefix (/usr/local/lib/
# python3.X/dist-packages is on Debian's path; /usr/local/lib/python3/ is
# not). RK350_PYTHON_SITE_DIR, relative to the prefix, overrides it.
set(RK350_PYTHON_SITE_DIR "" CACHE STRING "Where the Python package is installed (empty: where Debian's python3 looks)")
if(NOT WIN32)
  find_program(RK350_INSTALL_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  find_program(RK350_INSTALL_PYTHON NAMES python3)
  set(RK350_PYTHON_VERSION 3)
  if(RK350_INSTALL_PYTHON)
    execute_process(COMMAND ${RK350_INSTALL_PYTHON} -c "import sys; print('%d.%d' % sys.version_info[:2])"
      OUTPUT_VARIABLE RK350_PYTHON_VERSION OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
  install(CODE "
    set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(site \"${RK350_PYTHON_SITE_DIR}\")
    if(NOT site)
      if(prefix STREQUAL \"/usr\")
        set(site lib/python3/dist-packages)
      else()
        set(site lib/python${RK350_PYTHON_VERSION}/dist-packages)
      endif()
    endif()
    file(INSTALL \"${PROJECT_SOURCE_DIR}/bindings/python/rk350\" DESTINATION \"\$ENV{DESTDIR}\${prefix}/\${site}\"
      PATTERN __pycache__ EXCLUDE)
    file(WRITE \"\$ENV{DESTDIR}\${prefix}/\${site}/rk350/_install_paths.py\"
      \"# Written by cmake --install.\\nLIBRARY_DIR = r'\${prefix}/${CMAKE_INSTALL_LIBDIR}'\\n\")")
endif()
