# Install rules: headers, the shared and static libraries, the serial-port component,
# the varnek station, the examples, varnek.pc and the CMake package (Varnek::varnek,
# Varnek::varnek_static).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# The static library for hosts: libvarnek.a, the same objects as the shared library.
if(NOT WIN32)
  add_library(varnek_static STATIC $<TARGET_OBJECTS:varnek_objects>)
  set_target_properties(varnek_static PROPERTIES OUTPUT_NAME varnek EXPORT_NAME varnek_static)
  target_include_directories(varnek_static PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
  varnek_platform_libs(varnek_static)
  # The library is C++ inside: a C host linking it statically needs the C++ runtime.
  target_link_libraries(varnek_static PUBLIC stdc++)
  set(varnek_static_target varnek_static)
endif()

foreach(target varnek ${varnek_static_target})
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()

install(TARGETS varnek ${varnek_static_target} EXPORT VarnekTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The component is loaded by its plain file name (libdrummel.so, DRUMMEL.DLL), so it
# goes where the loader looks: the library folder, beside Varnek.dll on Windows.
install(TARGETS drummel
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS varnek_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES include/varnek.h drummel/drummel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES examples/sessions.c examples/call_echo.c DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
if(WIN32)
  install(FILES include/varnek.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# pkg-config: varnek.pc.  Its prefix is written at install time, so that an install
# with --prefix (or DESTDIR, or CPack's staging) names where the files really are.
set(VARNEK_PC_LIB varnek)
set(VARNEK_PC_PRIVATE_LIBS "-lstdc++ -lpthread -ldl")
if(WIN32)
  set(VARNEK_PC_LIB Varnek)   # libVarnek.dll.a
  set(VARNEK_PC_PRIVATE_LIBS "-lws2_32 -luser32")
endif()
configure_file(${PROJECT_SOURCE_DIR}/packaging/varnek.pc.in ${PROJECT_BINARY_DIR}/varnek.pc.in @ONLY)
# In the Windows zip, which unpacks anywhere, the prefix is the .pc file's own place.
set(pc_prefix "\${CMAKE_INSTALL_PREFIX}")
if(WIN32)
  set(pc_prefix "\\\${pcfiledir}/../..")
endif()
install(CODE "
  file(READ \"${PROJECT_BINARY_DIR}/varnek.pc.in\" pc)
  string(REPLACE \"%PREFIX%\" \"${pc_prefix}\" pc \"\${pc}\")
  set(pc_file \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/varnek.pc\")
  message(STATUS \"Installing: \${pc_file}\")
  file(WRITE \"\${pc_file}\" \"\${pc}\")
")

# CMake package: find_package(Varnek) gives Varnek::varnek and Varnek::varnek_static.
set(VARNEK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Varnek)
install(EXPORT VarnekTargets NAMESPACE Varnek:: DESTINATION ${VARNEK_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/VarnekConfig.cmake.in
  ${PROJECT_BINARY_DIR}/VarnekConfig.cmake INSTALL_DESTINATION ${VARNEK_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/VarnekConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/VarnekConfig.cmake ${PROJECT_BINARY_DIR}/VarnekConfigVersion.cmake
  DESTINATION ${VARNEK_CMAKE_DIR})
