# Finds the Python the tests run (Debian's python3 first) and checks that it
# imports the given modules. Sets <var> to the interpreter when it does.
# Otherwise <var> is empty and a test named <test> fails, saying which Debian
# packages to install: tests are never left out quietly.
#   rk350_python_with(<var> <test> "<module>, <module>" "<package> <package>")
function(rk350_python_with var test modules packages)
  find_program(RK350_DEBIAN_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
  find_program(RK350_DEBIAN_PYTHON NAMES python3)
  set(missing 1)
  if(RK350_DEBIAN_PYTHON)
    execute_process(COMMAND ${RK350_DEBIAN_PYTHON} -c "import ${modules}" RESULT_VARIABLE missing
      OUTPUT_QUIET ERROR_QUIET)
  endif()
  if(missing)
    message(WARNING "rk350: no python3 that imports ${modules}; test ${test} fails until apt-get install ${packages}")
    add_test(NAME ${test} COMMAND sh -c
      "echo 'python3 with ${modules} is missing: apt-get install ${packages}' >&2; exit 1")
    set(${var} "" PARENT_SCOPE)
  else()
    set(${var} ${RK350_DEBIAN_PYTHON} PARENT_SCOPE)
  endif()
endfunction()
