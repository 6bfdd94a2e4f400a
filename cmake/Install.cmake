# What `cmake --install BUILD --prefix P` lays out, and the Debian package
# cpack builds from the same rules. Every path is relative to the prefix, and
# nethost and the Lua module find the library relative to themselves, so an
# install works wherever it is put.
include(CMakePackageConfigHelpers)

install(TARGETS scriptnet scriptnet_core EXPORT scriptnetTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS nethost RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS scriptnet_lua LIBRARY DESTINATION ${SCRIPTNET_LUA_CMOD_DIR})
install(FILES include/scriptnet.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# The C++ classes' headers keep their folders, as the sources include them;
# the platform layer's own (system headers inside) and the script families
# and host internals are no part of them.
install(DIRECTORY WSockets tcpip ip_misc platform
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/scriptnet FILES_MATCHING PATTERN "*.h"
  PATTERN "*Native.h" EXCLUDE)
# Not under share/doc, which slim Debian systems leave out.
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/scriptnet/examples)
install(FILES nethost/nethost.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# scriptnet::scriptnet is the shared library with the C header;
# scriptnet::core the C++ classes as a static archive.
install(EXPORT scriptnetTargets NAMESPACE scriptnet::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/scriptnet)
configure_package_config_file(cmake/scriptnetConfig.cmake.in
  ${CMAKE_BINARY_DIR}/scriptnetConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/scriptnet)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/scriptnetConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/scriptnetConfig.cmake ${CMAKE_BINARY_DIR}/scriptnetConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/scriptnet)

# The pkg-config file names the prefix the install was given, known only
# when installing.
install(CODE "
  set(PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(PC_LUA_CMOD_DIR \"${SCRIPTNET_LUA_CMOD_DIR}\")
  set(PC_VERSION \"${PROJECT_VERSION}\")
  configure_file(\"${CMAKE_CURRENT_SOURCE_DIR}/cmake/scriptnet.pc.in\"
                 \"${CMAKE_BINARY_DIR}/pkgconfig/scriptnet.pc\" @ONLY)
  file(INSTALL \"${CMAKE_BINARY_DIR}/pkgconfig/scriptnet.pc\"
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")
")

set(CPACK_PACKAGE_NAME scriptnet)
set(CPACK_PACKAGE_VENDOR scriptnet)
set(CPACK_PACKAGE_CONTACT "scriptnet developers <scriptnet@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "internet extension library for script hosts, with the Lua host nethost")
set(CPACK_PACKAGE_DESCRIPTION
  "HTTP, FTP, POP3 and SMTP with MIME attachments, a TCP server and client with a relay mode,
CGI input and output, an HTML filter and a network time query, for scripts: the shared
library libscriptnet.so with its C header, the C++ classes, the Lua 5.4 host nethost and the
Lua module scriptnet.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The module runs inside Debian's interpreter; nethost needs none.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS lua5.4)
include(CPack)
