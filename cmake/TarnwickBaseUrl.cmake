# The service base URL compiled into both programs carries the device credential as a bearer token, so it
# must be an https:// address; plain http:// is accepted only for a loopback host (the local service).
#
# Included by the project, or run on its own to check one value:
#   cmake -DTARNWICK_BASE_URL=https://example.com/ -P cmake/TarnwickBaseUrl.cmake

function(tarnwick_check_base_url url)
  set(loopback_hosts "localhost|127\\.[0-9]+\\.[0-9]+\\.[0-9]+|\\[::1\\]")
  if(url MATCHES "^https://[^/?#]+(/|$)")
    return()
  endif()
  if(url MATCHES "^http://(${loopback_hosts})(:[0-9]+)?(/|$)")
    return()
  endif()
  message(FATAL_ERROR
    "TARNWICK_BASE_URL is \"${url}\", which is not an https:// address. The programs send the device "
    "credential to this address, so it must never travel in clear text: use https://, or http:// only "
    "with a loopback host (localhost, 127.0.0.1 or [::1]) for the local service.")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tarnwick_check_base_url("${TARNWICK_BASE_URL}")
endif()
