# zorvik_test_kdl: Orocos KDL and kdl_parser for tests that compare against KDL (KdlBridge.h).
# Include this file from any test directory and link the target; it is defined once.
#
# Debian 12 ships a CMake config for orocos_kdl, but kdl_parser's catkin config and its pkg-config
# file both pull in ROS packages that are not installed (pluginlib, ament), so kdl_parser is found
# by its header and library. Its header includes urdfdom's and tinyxml's headers from /usr/include;
# the shared library brings its own dependencies.
include_guard(GLOBAL)

find_package(orocos_kdl REQUIRED CONFIG)
find_path(ZORVIK_KDL_PARSER_INCLUDE_DIR kdl_parser/kdl_parser.hpp REQUIRED)
find_library(ZORVIK_KDL_PARSER_LIBRARY kdl_parser REQUIRED)
find_library(ZORVIK_OROCOS_KDL_LIBRARY ${orocos_kdl_LIBRARIES} REQUIRED)

add_library(zorvik_test_kdl INTERFACE)
target_include_directories(zorvik_test_kdl SYSTEM INTERFACE
  ${ZORVIK_KDL_PARSER_INCLUDE_DIR} ${orocos_kdl_INCLUDE_DIRS})
target_include_directories(zorvik_test_kdl INTERFACE ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(zorvik_test_kdl INTERFACE
  ${ZORVIK_KDL_PARSER_LIBRARY} ${ZORVIK_OROCOS_KDL_LIBRARY} Eigen3::Eigen)
