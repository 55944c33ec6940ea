# Fails when a public header includes anything but the standard library and
# the library's own headers.
file(GLOB headers ${INCLUDE_DIR}/nametree/*.h)
foreach(h ${headers})
  file(STRINGS ${h} includes REGEX "^#include")
  foreach(line ${includes})
    if(NOT line MATCHES "^#include (<[a-z_]+>|\"nametree/[a-z0-9_]+\\.h\")")
      message(FATAL_ERROR "${h}: ${line}")
    endif()
  endforeach()
endforeach()
