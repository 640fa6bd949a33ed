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

# The .pc files find the prefix relative to their own directory (${pcfiledir}), so an installed tree
# can be moved; the number of levels up follows the library directory (lib, lib64,
# lib/x86_64-linux-gnu).
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(ZORVIK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(ZORVIK_PC_LIBDIR_VALUE "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH ZORVIK_PC_UP "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" ZORVIK_PC_UP "${ZORVIK_PC_UP}")
  set(ZORVIK_PC_PREFIX "\${pcfiledir}/${ZORVIK_PC_UP}")
  set(ZORVIK_PC_LIBDIR_VALUE "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${ZORVIK_INCLUDE_INSTALL_DIR}")
  set(ZORVIK_PC_INCLUDEDIR_VALUE "${ZORVIK_INCLUDE_INSTALL_DIR}")
else()
  set(ZORVIK_PC_INCLUDEDIR_VALUE "\${prefix}/${ZORVIK_INCLUDE_INSTALL_DIR}")
endif()

# zorvikcore.pc links the release library, zorvikcored.pc the debug one. The -l names are the
# targets' output names, which core/ sets.
foreach(target IN ITEMS ZorvikCore ZorvikCored)
  get_target_property(ZORVIK_PC_LIBNAME ${target} OUTPUT_NAME)
  string(TOLOWER ${target} pc_name)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/zorvikcore.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${pc_name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc_name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

# zorvikurdf.pc and zorvikurdfd.pc: the URDF loader on the release and on the debug core, each
# requiring the core module of its kind (urdfdom and tinyxml2 are private to the shared library).
foreach(target IN ITEMS ZorvikURDF ZorvikURDFd)
  if(NOT TARGET ${target})
    continue()
  endif()
  get_target_property(ZORVIK_PC_LIBNAME ${target} OUTPUT_NAME)
  string(TOLOWER ${target} pc_name)
  if(target STREQUAL "ZorvikURDF")
    set(ZORVIK_PC_CORE zorvikcore)
    set(ZORVIK_PC_CORE_KIND release)
  else()
    set(ZORVIK_PC_CORE zorvikcored)
    set(ZORVIK_PC_CORE_KIND debug)
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/zorvikurdf.pc.in
    ${CMAKE_CURRENT_BINARY_DIR}/${pc_name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc_name}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
