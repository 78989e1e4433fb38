# The publisher pin: the thumbprint of the certificate that must sign an updater from the
# network, compiled into a launcher's entry point. Accepts what Windows and openssl print
# (colons, spaces, either case) and keeps 40 (SHA-1) or 64 (SHA-256) upper-case digits.

# gor_pin_publisher(<target> <thumbprint>): an empty thumbprint pins nothing.
function(gor_pin_publisher target thumbprint)
  string(REGEX REPLACE "[: \t\r\n]" "" pin "${thumbprint}")
  string(TOUPPER "${pin}" pin)
  if(pin STREQUAL "")
    return()
  endif()
  string(LENGTH "${pin}" digits)
  if(NOT pin MATCHES "^[0-9A-F]+$" OR NOT (digits EQUAL 40 OR digits EQUAL 64))
    message(FATAL_ERROR "publisher pin '${thumbprint}' is not a SHA-1 (40) or SHA-256 (64) "
                        "hexadecimal thumbprint")
  endif()
  target_compile_definitions(${target} PRIVATE GORLAUNCH_PUBLISHER="${pin}")
endfunction()
