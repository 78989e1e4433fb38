# The publisher pin: the thumbprints of the certificates that may sign an updater from the
# network (the current one and, before a renewal, the next), compiled into a launcher's entry
# point. Each is taken as Windows and openssl print it (colons, spaces, either case) and kept
# as 40 (SHA-1) or 64 (SHA-256) upper-case digits; several are separated by ';'.

# gor_pin_publisher(<target> <thumbprints>): an empty list pins nothing.
function(gor_pin_publisher target thumbprints)
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
    return()
  endif()
  # One text for the code, "A;B", its ';' written as the C escape \073: CMake would split the
  # definition at a bare one.
  list(JOIN pins "\\073" joined)
  target_compile_definitions(${target} PRIVATE "GORLAUNCH_PUBLISHER=\"${joined}\"")
endfunction()
