# Installs the build tree into a fresh temporary prefix and builds a client outside the source tree
# against it: with find_package(ZorvikCore 3.4 CONFIG REQUIRED) and both imported targets, and
# with each pkg-config file, the URDF loader's included. Every program built is run, and so is the
# installed demo, which must find the libraries of its prefix by itself.
#
#   cmake -DBUILD_DIR=<build tree> -DWORK_DIR=<scratch dir> -DCONSUMER_DIR=<consumer sources>
#         -DLIBDIR=<lib dir relative to the prefix> -DGENERATOR=<generator> -DCXX=<compiler>
#         -DROBOT9_URDF=<a 9-joint URDF file> -DBINDIR=<bin dir relative to the prefix>
#         -P PackageConsumer.cmake
foreach(var BUILD_DIR WORK_DIR CONSUMER_DIR LIBDIR BINDIR GENERATOR CXX ROBOT9_URDF)
  if(NOT DEFINED ${var} OR "${${var}}" STREQUAL "")
    message(FATAL_ERROR "PackageConsumer.cmake: ${var} is not set")
  endif()
endforeach()

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    string(REPLACE ";" " " cmd "${ARGN}")
    message(FATAL_ERROR "Failed (${rc}): ${cmd}\n${out}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix "${WORK_DIR}/prefix")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")

message(STATUS "Installing into ${prefix}")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}")

# CMake package. The user package registry is ignored, so only the fresh prefix can provide it.
message(STATUS "Building the CMake consumer")
run("${CMAKE_COMMAND}" -S "${CONSUMER_DIR}" -B "${WORK_DIR}/cmake-consumer" -G "${GENERATOR}"
  "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_PREFIX_PATH=${prefix}"
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF "-DZORVIK_EXPECTED_PREFIX=${prefix}")
message(STATUS "${run_output}")
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/cmake-consumer")
foreach(variant IN ITEMS release debug)
  run("${WORK_DIR}/cmake-consumer/consumer_${variant}")
  message(STATUS "consumer_${variant}:\n${run_output}")
  if(EXISTS "${WORK_DIR}/cmake-consumer/robot9_${variant}")
    run("${WORK_DIR}/cmake-consumer/robot9_${variant}" "${ROBOT9_URDF}")
    message(STATUS "robot9_${variant}:\n${run_output}")
  endif()
endforeach()

# pkg-config files; eigen3.pc is found on the default search path.
set(ENV{PKG_CONFIG_PATH} "${prefix}/${LIBDIR}/pkgconfig")
foreach(module IN ITEMS zorvikcore zorvikcored)
  if(module STREQUAL "zorvikcore")
    set(file libZorvikCore_3_4_0_x64.so)
    set(defines -DNDEBUG)
  else()
    set(file libZorvikCore_3_4_0_x64d.so)
    set(defines "")
  endif()
  run(pkg-config --modversion ${module})
  string(STRIP "${run_output}" version)
  if(NOT version VERSION_EQUAL 3.4.0)
    message(FATAL_ERROR "pkg-config reports version ${version} for ${module}")
  endif()
  run(pkg-config --cflags ${module})
  separate_arguments(cflags UNIX_COMMAND "${run_output}")
  run(pkg-config --libs ${module})
  separate_arguments(libs UNIX_COMMAND "${run_output}")
  message(STATUS "${module}: ${cflags} ${libs}")
  set(exe "${WORK_DIR}/pkgconfig-${module}")
  run("${CXX}" -std=c++17 ${defines} ${cflags} "-DZORVIK_LIBRARY_FILE=\"${file}\""
    "-DZORVIK_EXPECTED_PREFIX=\"${prefix}\"" "${CONSUMER_DIR}/consumer.cpp" -o "${exe}"
    -Wl,--no-as-needed ${libs} "-Wl,-rpath,${prefix}/${LIBDIR}")
  run("${exe}")
  message(STATUS "pkg-config ${module} consumer:\n${run_output}")
endforeach()

# The loader's modules, with the 9-joint client: the core's flags come through their Requires.
foreach(module IN ITEMS zorvikurdf zorvikurdfd)
  if(NOT EXISTS "${prefix}/${LIBDIR}/pkgconfig/${module}.pc")
    message(FATAL_ERROR "The URDF loader is installed without its pkg-config module ${module}")
  endif()
  set(defines "")
  if(module STREQUAL "zorvikurdf")
    set(defines -DNDEBUG)
  endif()
  run(pkg-config --cflags --libs ${module})
  separate_arguments(flags UNIX_COMMAND "${run_output}")
  message(STATUS "${module}: ${flags}")
  set(exe "${WORK_DIR}/pkgconfig-${module}")
  run("${CXX}" -std=c++17 ${defines} "${CONSUMER_DIR}/robot9.cpp" -o "${exe}" ${flags}
    "-Wl,-rpath,${prefix}/${LIBDIR}")
  run("${exe}" "${ROBOT9_URDF}")
  message(STATUS "pkg-config ${module} consumer:\n${run_output}")
endforeach()

# The installed demo, without any library path from the environment.
if(EXISTS "${prefix}/${BINDIR}/zorvik_demo")
  run("${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH "${prefix}/${BINDIR}/zorvik_demo"
    --duration 0.05 --no-plot --out "${WORK_DIR}/demo-out")
  message(STATUS "installed zorvik_demo:\n${run_output}")
endif()
# The installed zorvik-identify, the same way.
if(EXISTS "${prefix}/${BINDIR}/zorvik-identify")
  run("${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH "${prefix}/${BINDIR}/zorvik-identify" --help)
endif()

file(REMOVE_RECURSE "${WORK_DIR}")
