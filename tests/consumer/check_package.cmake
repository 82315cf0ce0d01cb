# Makes the package with cpack and checks what it holds.  Variables: CPACK_CONFIG, OUT,
# PACKAGE (the file cpack must make), and for the zip DEF_FILE and NM (the import
# library Varnek.lib must name every export of the .def).
execute_process(COMMAND cpack --config ${CPACK_CONFIG} -B ${OUT} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT EXISTS ${PACKAGE})
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}")
endif()

set(failures "")
if(PACKAGE MATCHES "\\.deb$")
  execute_process(COMMAND dpkg-deb -c ${PACKAGE} OUTPUT_VARIABLE contents COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND dpkg-deb -f ${PACKAGE} Depends OUTPUT_VARIABLE depends COMMAND_ERROR_IS_FATAL ANY)
  if(NOT depends MATCHES "libc6 \\(>= [0-9.]+\\)")
    string(APPEND failures "  Depends is not computed: '${depends}'\n")
  endif()
  set(expected
    "/usr/lib/x86_64-linux-gnu/libvarnek\\.so\\.${VERSION}" "/usr/lib/x86_64-linux-gnu/libvarnek\\.so\\.0 -> "
    "/usr/lib/x86_64-linux-gnu/libvarnek\\.so -> " "/usr/lib/x86_64-linux-gnu/libvarnek\\.a"
    "/usr/lib/x86_64-linux-gnu/libdrummel\\.so" "/usr/bin/varnek\n" "/usr/include/varnek\\.h" "/usr/include/drummel\\.h"
    "/usr/lib/x86_64-linux-gnu/pkgconfig/varnek\\.pc" "/usr/lib/x86_64-linux-gnu/cmake/Varnek/VarnekConfig\\.cmake"
    "/cmake/Varnek/VarnekConfigVersion\\.cmake" "/cmake/Varnek/VarnekTargets\\.cmake"
    "/usr/share/man/man3/Session_Open\\.3" "/usr/share/man/man3/BYTESWAP_Do\\.3" "/usr/share/man/man1/varnek\\.1"
    "/usr/share/man/man7/drummel\\.7" "/usr/share/doc/varnek/examples/call_echo\\.c")
  set(unexpected "gtest" "gmock" "benchmark" "/stamp")
else()
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${PACKAGE} OUTPUT_VARIABLE contents COMMAND_ERROR_IS_FATAL ANY)
  set(expected "/bin/Varnek\\.dll" "/bin/DRUMMEL\\.dll" "/bin/varnek\\.exe" "/include/varnek\\.h" "/include/drummel\\.h"
    "/lib/varnek\\.def" "/lib/libVarnek\\.dll\\.a" "/lib/Varnek\\.lib" "/share/man/man3/Session_Open\\.3"
    "/share/doc/varnek/examples/call_echo\\.c")
  set(unexpected "gtest" "\\.exe\n.*tests/")
  # Varnek.lib: an import of every exported name, for Visual C++'s decorated cdecl names.
  get_filename_component(folder ${PACKAGE} DIRECTORY)
  file(REMOVE_RECURSE ${folder}/unpacked)
  file(MAKE_DIRECTORY ${folder}/unpacked)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${PACKAGE} WORKING_DIRECTORY ${folder}/unpacked)
  file(GLOB_RECURSE lib ${folder}/unpacked/*/Varnek.lib)
  execute_process(COMMAND ${NM} ${lib} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
  file(STRINGS ${DEF_FILE} def_lines REGEX "^    [A-Za-z_]")
  foreach(line IN LISTS def_lines)
    string(STRIP "${line}" name)
    if(NOT symbols MATCHES "__imp__${name}\n")
      string(APPEND failures "  Varnek.lib has no import of ${name}\n")
    endif()
  endforeach()
  if(NOT symbols MATCHES "Varnek\\.dll")
    string(APPEND failures "  Varnek.lib does not name Varnek.dll\n")
  endif()
endif()
foreach(entry IN LISTS expected)
  if(NOT contents MATCHES "${entry}")
    string(APPEND failures "  missing: ${entry}\n")
  endif()
endforeach()
foreach(entry IN LISTS unexpected)
  if(contents MATCHES "${entry}")
    string(APPEND failures "  should not be there: ${entry}\n")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${PACKAGE}:\n${failures}\ncontents:\n${contents}")
endif()
message(STATUS "${PACKAGE}: holds what it should")
