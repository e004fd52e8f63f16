# The library as a package: `cmake --install` puts headers, libraries, the in-process server,
# the programs, a CMake package (find_package(kvtfields CONFIG)) and a pkg-config file in
# place; `cpack -G DEB` makes a Debian package of the same.
include(CMakePackageConfigHelpers)

# Public names: kvtfields::fields, kvtfields::engine_sqlite, kvtfields::host_qt ...
set(kvt_exported
  kvt_runtime:runtime:kvt_runtime
  kvt_contracts:contracts:kvt_contracts
  kvtfields:fields:kvt_fields
  kvt_engine_files:engine_files:kvt_engine_files
  kvt_engine_common:engine_common:kvt_engine_common
  kvt_engine_sqlite:engine_sqlite:kvt_engine_sqlite
  kvt_engine_postgresql:engine_postgresql:kvt_engine_postgresql
  kvt_host_common:host_common:kvt_host_common
  kvt_host_headless:host_headless:kvt_host_headless
  kvt_host_qt:host_qt:kvt_host_qt
  kvt_host_qt_person:host_qt_person:kvt_host_qt_person
  kvt_addons:addons:kvt_addons
  kvt_scripting_lua:scripting_lua:kvt_scripting_lua
  kvt_archives:archives:kvt_archives
)
set(kvt_targets)
foreach(entry IN LISTS kvt_exported)
  string(REPLACE ":" ";" parts "${entry}")
  list(GET parts 0 target)
  list(GET parts 1 export_name)
  list(GET parts 2 file_name)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${export_name} OUTPUT_NAME ${file_name})
  list(APPEND kvt_targets ${target})
endforeach()

install(TARGETS ${kvt_targets} EXPORT kvtfieldsTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS kvtfields_server LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS kvtfields-app kvtfields-desk RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Headers keep their folders: #include "kvtfields/collection/fields_collection.h".
install(DIRECTORY ${PROJECT_SOURCE_DIR}/src/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvtfields
  FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_BINARY_DIR}/src/kvtfields/generated/kvtfields/server/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kvtfields/kvtfields/server)

set(kvt_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kvtfields)
install(EXPORT kvtfieldsTargets NAMESPACE kvtfields:: DESTINATION ${kvt_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kvtfieldsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kvtfieldsConfig.cmake INSTALL_DESTINATION ${kvt_cmake_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kvtfieldsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kvtfieldsConfig.cmake
  ${PROJECT_BINARY_DIR}/kvtfieldsConfigVersion.cmake DESTINATION ${kvt_cmake_dir})

configure_file(${PROJECT_SOURCE_DIR}/cmake/kvtfields.pc.in ${PROJECT_BINARY_DIR}/kvtfields.pc
  @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kvtfields.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME kvtfields)
set(CPACK_PACKAGE_VENDOR "kvtfields")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Data-entry forms built at run time from field definitions kept in a database")
set(CPACK_PACKAGE_CONTACT "kvtfields developers <kvtfields@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "libicu72, libsqlite3-0, libpq5, liblua5.4-0, libtomlplusplus3, libqt6widgets6, libqt6test6, qt6-qpa-plugins")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
