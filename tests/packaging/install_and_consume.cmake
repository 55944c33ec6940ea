# Installs the build into a fresh prefix, then builds the example hosts
# against it, with no C++ standard of its own: through the CMake package
# (shared, where ICU must not be needed, and static) and through pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(last_output "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(f include/nametree/name_server.h include/nametree/version.h lib/cmake/nametree/nametreeConfig.cmake
          lib/pkgconfig/nametree.pc share/doc/nametree/LICENSE)
  if(NOT EXISTS ${prefix}/${f})
    string(REPLACE "lib/" "lib64/" alt ${f})
    if(NOT EXISTS ${prefix}/${alt})
      message(FATAL_ERROR "not installed: ${f}")
    endif()
  endif()
endforeach()
# The program comes with its manual page, which man renders without a warning.
if(EXISTS ${prefix}/bin/nametree)
  if(NOT EXISTS ${prefix}/share/man/man1/nametree.1)
    message(FATAL_ERROR "not installed: share/man/man1/nametree.1")
  endif()
  find_program(MAN man)
  if(MAN)
    execute_process(COMMAND ${MAN} --warnings -l ${prefix}/share/man/man1/nametree.1
                    RESULT_VARIABLE rc OUTPUT_VARIABLE page ERROR_VARIABLE warnings)
    if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "" OR NOT page MATCHES "print a completion script")
      message(FATAL_ERROR "man -l of the installed page (${rc}): ${warnings}")
    endif()
  endif()
endif()
file(GLOB sonames ${prefix}/lib*/libnametree.so.1)
if(NOT sonames)
  message(FATAL_ERROR "no libnametree.so.1 with a SONAME link under ${prefix}")
endif()

# The example must come from the install tree only: copy it out of the sources.
file(COPY ${SOURCE_DIR}/examples/classic DESTINATION ${WORK_DIR})
foreach(variant shared static)
  set(args -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix})
  if(variant STREQUAL "shared")
    list(APPEND args -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON)  # the shared library brings its own
  else()
    list(APPEND args -DHOST_STATIC=ON)
  endif()
  run(${CMAKE_COMMAND} -S ${WORK_DIR}/classic -B ${WORK_DIR}/host-${variant} -G Ninja ${args})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/host-${variant})
  run(${WORK_DIR}/host-${variant}/host)
  message(STATUS "host (CMake package, ${variant}): ${last_output}")
endforeach()

# pkg-config users: the same program from the flags alone, with no other
# package's .pc file in reach.
set(ENV{PKG_CONFIG_LIBDIR} "${prefix}/lib/pkgconfig:${prefix}/lib64/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
run(pkg-config --cflags --libs nametree)
string(STRIP "${last_output}" flags)
if(NOT flags MATCHES "-std=c\\+\\+20")
  message(FATAL_ERROR "pkg-config gives no -std=c++20: ${flags}")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run(${CXX} ${WORK_DIR}/classic/main.cc ${flags} -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/host-pc)
run(${WORK_DIR}/host-pc)
message(STATUS "host (pkg-config): ${last_output}")

# The modern face's example: UTF-8 names in three scripts, committed and
# read back from a real file.
file(COPY ${SOURCE_DIR}/examples/document DESTINATION ${WORK_DIR})
run(${CMAKE_COMMAND} -S ${WORK_DIR}/document -B ${WORK_DIR}/document-build -G Ninja
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/document-build)
run(${WORK_DIR}/document-build/document_host ${WORK_DIR}/plant.ntd)
foreach(expected "Straße" "Насос" "名前" "E_NAME_DUPLICATE")
  if(NOT last_output MATCHES "${expected}")
    message(FATAL_ERROR "the document host did not print ${expected}:\n${last_output}")
  endif()
endforeach()
message(STATUS "document host: ${last_output}")

# The host on Document alone that the README shows.
file(COPY ${SOURCE_DIR}/examples/host DESTINATION ${WORK_DIR})
run(${CMAKE_COMMAND} -S ${WORK_DIR}/host -B ${WORK_DIR}/host-build -G Ninja
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/host-build)
run(${WORK_DIR}/host-build/host ${WORK_DIR}/host.ntd)
message(STATUS "Document host: ${last_output}")

# The PLCopen importer, where it was built: a static component that brings
# the static library, ICU and pugixml to the host's link.
file(GLOB plcopen_targets ${prefix}/lib*/cmake/nametree/nametreePlcopenTargets.cmake)
if(plcopen_targets)
  file(COPY ${SOURCE_DIR}/examples/plcopen DESTINATION ${WORK_DIR})
  run(${CMAKE_COMMAND} -S ${WORK_DIR}/plcopen -B ${WORK_DIR}/plcopen-build -G Ninja
      -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix})
  run(${CMAKE_COMMAND} --build ${WORK_DIR}/plcopen-build)
  run(${WORK_DIR}/plcopen-build/plcopen_host)
  message(STATUS "PLCopen host: ${last_output}")
endif()
