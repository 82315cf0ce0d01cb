# Build rules shared by every target of the project.

set(VARNEK_WARNINGS -Wall -Wextra)
if(VARNEK_WERROR)
  list(APPEND VARNEK_WARNINGS -Werror)
endif()

if(VARNEK_FUZZ)
  # Every object reports its coverage to libFuzzer; the fuzz targets link its driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -gline-tables-only)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VARNEK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(VARNEK_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# Product code: no exceptions, hidden symbols; only the export list leaves the library.
function(varnek_product_flags target)
  target_compile_options(${target} PRIVATE ${VARNEK_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
endfunction()

function(varnek_platform_libs target)
  if(WIN32)
    target_link_libraries(${target} PUBLIC ws2_32 user32)
  else()
    target_link_libraries(${target} PUBLIC pthread ${CMAKE_DL_LIBS})
  endif()
endfunction()

# Windows programs and DLLs carry their C++ and GCC runtime inside, so that they run
# without any MinGW DLL beside them.
function(varnek_static_runtime target)
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

# Exports exactly the names of a .def file: on Windows through the .def itself, on
# Linux through a version script made from it.  The shared library is named
# <windows_name>.dll and lib<linux_name>.so.
function(varnek_export_list target def_file windows_name linux_name)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file})
  file(STRINGS ${def_file} lines)
  set(names "")
  set(in_exports FALSE)
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "EXPORTS")
      set(in_exports TRUE)
    elseif(in_exports AND line MATCHES "^[A-Za-z_][A-Za-z0-9_]*$")
      list(APPEND names ${line})
    endif()
  endforeach()
  if(WIN32)
    target_sources(${target} PRIVATE ${def_file})
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${windows_name}
      IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
    varnek_static_runtime(${target})
  else()
    list(JOIN names ";\n    " joined)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
    file(WRITE ${script} "{\n  global:\n    ${joined};\n  local: *;\n};\n")
    target_link_options(${target} PRIVATE -Wl,--version-script=${script})
    if(NOT VARNEK_FUZZ)  # clang's sanitizer runtimes come with the program, not the library
      target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def_file})
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${linux_name})
  endif()
  set_property(TARGET ${target} PROPERTY VARNEK_EXPORTS "${names}")
endfunction()
