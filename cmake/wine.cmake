# Tests that run under Wine on an Xvfb display: the one place in the build that says how.
# scripts/wine_fixture.sh sets up the display and the prefix (the "wine" fixture,
# registered in tests/e2e, once per run) and runs every such test in the Wine environment.
find_program(GOR_PYTHON3 python3 REQUIRED)
find_program(GOR_BASH bash REQUIRED)

# The display: -DGOR_E2E_DISPLAY=:NN or, at the first configure, the environment's
# GOR_E2E_DISPLAY (scripts/test on a shared machine); scripts/test's shards use those below.
set(_display ":93")
if(DEFINED ENV{GOR_E2E_DISPLAY})
  set(_display "$ENV{GOR_E2E_DISPLAY}")
endif()
set(GOR_E2E_DISPLAY ${_display} CACHE STRING "X display the tests under Wine run on (Xvfb)")
set(GOR_E2E_STATE ${CMAKE_BINARY_DIR}/e2e)
set(GOR_WINE_FIXTURE ${CMAKE_SOURCE_DIR}/scripts/wine_fixture.sh)
# What every test under Wine sees: the build's own prefix on the display (the fixture adds
# the rest of the Wine environment).
set(GOR_WINE_ENVIRONMENT
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix"
    "DISPLAY=${GOR_E2E_DISPLAY}"
    "GOR_WINE_STATE=${GOR_E2E_STATE}")

# gor_add_wine_test(NAME <name> COMMAND <args...> [TIMEOUT <seconds>] [LABELS <labels...>]
#                   [ENVIRONMENT <NAME=value...>] [FIXTURES <more fixtures...>]
#                   [WORKING_DIRECTORY <folder>])
# A test that needs the Wine prefix and the display: it runs after the setup fixture, one at
# a time (they share the display and the wineserver; scripts/test runs shards of them at once,
# each with a display and prefix of its own). Defaults: 900 s, label e2e, the calling
# source folder.
function(gor_add_wine_test)
  cmake_parse_arguments(arg "" "NAME;TIMEOUT;WORKING_DIRECTORY"
                        "COMMAND;LABELS;ENVIRONMENT;FIXTURES" ${ARGN})
  if(NOT arg_NAME OR NOT arg_COMMAND)
    message(FATAL_ERROR "gor_add_wine_test needs NAME and COMMAND")
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 900)
  endif()
  if(NOT arg_LABELS)
    set(arg_LABELS e2e)
  endif()
  if(NOT arg_WORKING_DIRECTORY)
    set(arg_WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${GOR_BASH} ${GOR_WINE_FIXTURE} run ${arg_COMMAND}
           WORKING_DIRECTORY ${arg_WORKING_DIRECTORY})
  set_tests_properties(${arg_NAME} PROPERTIES
    FIXTURES_REQUIRED "wine;${arg_FIXTURES}"
    RESOURCE_LOCK wine
    TIMEOUT ${arg_TIMEOUT}
    LABELS "${arg_LABELS}"
    ENVIRONMENT "${GOR_WINE_ENVIRONMENT};${arg_ENVIRONMENT}")
endfunction()
