# zorvik_test_dart: DART loaded from URDF files as an oracle (DartOracle.h), compiled once for the
# tests and the benchmarks. Include this file from any directory and link the target.
include_guard(GLOBAL)

find_package(DART 6 REQUIRED COMPONENTS utils-urdf CONFIG)
add_library(zorvik_test_dart STATIC ${CMAKE_CURRENT_LIST_DIR}/DartOracle.cpp)
target_include_directories(zorvik_test_dart PUBLIC ${CMAKE_CURRENT_LIST_DIR}/..)
target_link_libraries(zorvik_test_dart PUBLIC dart dart-utils-urdf)
target_compile_options(zorvik_test_dart PRIVATE -O1)
