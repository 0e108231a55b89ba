# Installs the build BUILD_DIR into a fresh PREFIX and checks that the three programs and
# their manual pages landed and that the installed programs run.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(program kestrel plover wren)
  if(NOT EXISTS ${PREFIX}/share/man/man1/${program}.1)
    message(FATAL_ERROR "no manual page share/man/man1/${program}.1")
  endif()
  execute_process(COMMAND ${PREFIX}/bin/${program} --version RESULT_VARIABLE status OUTPUT_VARIABLE version)
  if(NOT status EQUAL 0 OR NOT version MATCHES "^${program} ")
    message(FATAL_ERROR "bin/${program} --version gave status ${status} and '${version}'")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
