# Installs the library, the outside components it links, their headers, a CMake package
# (find_package(objstorebackup)) and a pkg-config file (pkg-config --cflags --libs objstorebackup).
include(CMakePackageConfigHelpers)

install(TARGETS objstorebackup objstore_platform objstore_pipeline objstore_diskcache
  EXPORT objstorebackupTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

foreach(dir IN LISTS OBJSTORE_PUBLIC_HEADER_DIRS ITEMS
    ${CMAKE_CURRENT_SOURCE_DIR}/external/platform
    ${CMAKE_CURRENT_SOURCE_DIR}/external/pipeline
    ${CMAKE_CURRENT_SOURCE_DIR}/external/disk_cache)
  install(DIRECTORY ${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/objstorebackup
    FILES_MATCHING PATTERN "*.h" PATTERN "testing" EXCLUDE PATTERN "*Internal*" EXCLUDE)
endforeach()

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

configure_file(cmake/objstorebackup.pc.in ${CMAKE_CURRENT_BINARY_DIR}/objstorebackup.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/objstorebackup.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
