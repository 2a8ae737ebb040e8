# Installs the library, the outside components it links, the public headers (the library's, the
# components' interface headers and the stand-ins' own that hosts use; those only a host's tests
# use in testing/), a CMake package
# (find_package(objstorebackup)), a pkg-config file (pkg-config --cflags --libs objstorebackup),
# the guide with its examples and, when built, the host program. The installed tree can be moved:
# the libraries find each other through RUNPATH $ORIGIN, and the pkg-config file locates itself.
include(CMakePackageConfigHelpers)

install(TARGETS objstorebackup objstore_platform objstore_pipeline objstore_diskcache
  EXPORT objstorebackupTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

get_property(public_headers GLOBAL PROPERTY OBJSTORE_PUBLIC_HEADERS)
install(FILES ${public_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/objstorebackup)
# What a host needs only to test against the stand-ins (fault injection), kept out of the API's
# directory: #include "testing/PipelineFaults.h".
get_property(testing_headers GLOBAL PROPERTY OBJSTORE_TESTING_HEADERS)
install(FILES ${testing_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/objstorebackup/testing)

install(EXPORT objstorebackupTargets NAMESPACE objstorebackup::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/objstorebackup)
configure_package_config_file(cmake/objstorebackupConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/objstorebackupConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/objstorebackup)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/objstorebackupConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/objstorebackupConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/objstorebackupConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/objstorebackup)

# The pkg-config file names its prefix relative to its own directory.
file(RELATIVE_PATH OBJSTORE_PC_TO_PREFIX "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" OBJSTORE_PC_TO_PREFIX "${OBJSTORE_PC_TO_PREFIX}")
configure_file(cmake/objstorebackup.pc.in ${CMAKE_CURRENT_BINARY_DIR}/objstorebackup.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/objstorebackup.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES README.md docs/host-guide.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
