# The publisher pin: the thumbprints of the certificates that may sign an updater from the
# network (the current one and, before a renewal, the next), compiled into a launcher's entry
# point. Each is taken as Windows and openssl print it (colons, spaces, either case) and kept
# as 40 (SHA-1) or 64 (SHA-256) upper-case digits; several are separated by ';'. And, for a
# pinned launcher only, a floor: the lowest FileVersion (a.b.c.d) of an updater it takes.

# gor_pin_publisher(<target> <thumbprints> [<minimum updater version>]): an empty list pins
# nothing; an empty version sets no floor.
function(gor_pin_publisher target thumbprints)
  set(floor "${ARGV2}")
  set(pins "")
  foreach(thumbprint IN LISTS thumbprints)
    string(REGEX REPLACE "[: \t\r\n]" "" pin "${thumbprint}")
    string(TOUPPER "${pin}" pin)
    if(pin STREQUAL "")
      continue()
    endif()
    string(LENGTH "${pin}" digits)
    if(NOT pin MATCHES "^[0-9A-F]+$" OR NOT (digits EQUAL 40 OR digits EQUAL 64))
      message(FATAL_ERROR "publisher pin '${thumbprint}' is not a SHA-1 (40) or SHA-256 (64) "
                          "hexadecimal thumbprint")
    endif()
    list(APPEND pins "${pin}")
  endforeach()
  if(NOT pins)
    if(NOT floor STREQUAL "")
      message(FATAL_ERROR "a minimum updater version (${floor}) needs a publisher pin: only the "
                          "publisher's signature makes an updater's version resource count")
    endif()
    return()
  endif()
  if(NOT floor STREQUAL "")
    if(NOT floor MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
      message(FATAL_ERROR "minimum updater version '${floor}' is not a FileVersion a.b.c.d")
    endif()
    set(parts "")
    foreach(i 1 2 3 4)
      if(CMAKE_MATCH_${i} GREATER 65535)
        message(FATAL_ERROR "minimum updater version '${floor}': each part is at most 65535")
      endif()
      math(EXPR part "${CMAKE_MATCH_${i}}")  # no leading zeros: C would read them as octal
      list(APPEND parts "${part}")
    endforeach()
    list(JOIN parts "," parts)
    target_compile_definitions(${target} PRIVATE "GORLAUNCH_MIN_UPDATER_VERSION=${parts}")
  endif()
  # One text for the code, "A;B", its ';' written as the C escape \073: CMake would split the
  # definition at a bare one.
  list(JOIN pins "\\073" joined)
  target_compile_definitions(${target} PRIVATE "GORLAUNCH_PUBLISHER=\"${joined}\"")
endfunction()
