# CMake package (find_package(ZorvikCore 3.4 CONFIG REQUIRED)) and pkg-config files.
include(CMakePackageConfigHelpers)
set(ZORVIK_CMAKE_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZorvikCore)

install(EXPORT ZorvikCoreTargets NAMESPACE ZorvikCore:: DESTINATION ${ZORVIK_CMAKE_INSTALL_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZorvikCoreConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ZorvikCoreConfig.cmake
  INSTALL_DESTINATION ${ZORVIK_CMAKE_INSTALL_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZorvikCoreConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZorvikCoreConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/ZorvikCoreConfigVersion.cmake
  DESTINATION ${ZORVIK_CMAKE_INSTALL_DIR})

foreach(variant IN ITEMS "" "d")
  set(ZORVIK_PC_LIBNAME ZorvikCore_${ZORVIK_LIB_SUFFIX}${variant})
  configure_file(${CMAKE_CURRENT_LIST_DIR}/zorvikcore.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/zorvikcore${variant}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zorvikcore${variant}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
