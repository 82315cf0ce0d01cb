# Packages: a Debian package on Linux (dependencies from dpkg-shlibdeps), a zip on
# Windows.  The zip also holds Varnek.lib, an import library for Visual C++ made from
# include/varnek.def.
set(CPACK_PACKAGE_NAME varnek)
set(CPACK_PACKAGE_VENDOR "Varnek")
set(CPACK_PACKAGE_CONTACT "Varnek developers <varnek@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "numbered half-duplex sessions over TCP or a serial link, LZSS-compressed")
set(CPACK_PACKAGE_DESCRIPTION "Varnek gives a host application numbered, half-duplex
conversations (sessions) with a remote station or a central system, over TCP or over
a serial line with its own link protocol, every message LZSS-compressed.  The package
holds the shared and static libraries, the serial-port component libdrummel.so, the
varnek station, the headers, pkg-config and CMake files, and the reference pages.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
    set(dlltool_machine i386)
  else()
    set(CPACK_SYSTEM_NAME win64)
    set(dlltool_machine i386:x86-64)
  endif()
  find_program(VARNEK_DLLTOOL NAMES llvm-dlltool llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
  if(VARNEK_DLLTOOL)
    set(msvc_lib ${PROJECT_BINARY_DIR}/Varnek.lib)
    add_custom_command(OUTPUT ${msvc_lib}
      COMMAND ${VARNEK_DLLTOOL} -m ${dlltool_machine} -d ${PROJECT_SOURCE_DIR}/include/varnek.def -l ${msvc_lib}
      DEPENDS ${PROJECT_SOURCE_DIR}/include/varnek.def
      COMMENT "Making the Visual C++ import library Varnek.lib")
    add_custom_target(varnek_msvc_import_lib ALL DEPENDS ${msvc_lib})
    install(FILES ${msvc_lib} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  else()
    message(WARNING "llvm-dlltool not found: the zip will have no Varnek.lib for Visual C++")
  endif()
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_SET_DESTDIR ON)
  # A Debian package lives under /usr whatever prefix the build names for installs.
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
endif()

include(CPack)
