// One fuzz input for the URDF loader: the bytes are a (mutated) robot description. Loading must
// either give a description or throw URDF::LoadError whose message names the source; every other
// outcome (another exception, a crash, undefined behaviour) is a finding. A description whose size
// has a model is then built into its Robot<N>, updated, and run through the inverse dynamics and
// the Jacobians, which must not crash either.
//
// Shared by the libFuzzer target and by the test that replays the corpus and the regressions.
#ifndef ZORVIK_FUZZ_URDF_INPUT_H
#define ZORVIK_FUZZ_URDF_INPUT_H

#include <ZorvikURDF/RobotLoader>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace zorvik_fuzz {

inline void requireNamedError(const ZorvikFoundation::URDF::LoadError& e, const char* source) {
  const std::string what = e.what();
  if (what.compare(0, std::string(source).size(), source) != 0 || e.problem().empty()) {
    std::fprintf(stderr, "LoadError without a clear message: %s\n", what.c_str());
    std::abort();
  }
}

inline void runUrdfInput(const uint8_t* data, size_t size) {
  using namespace ZorvikFoundation;
  static const char kSource[] = "fuzz-input.urdf";
  const std::string xml(reinterpret_cast<const char*>(data), size);
  for (int variant = 0; variant < 2; ++variant) {
    URDF::LoadOptions options;
    options.floatingBase = variant == 1;
    try {
      const URDF::RobotDescription description = URDF::RobotDescription::fromString(xml, kSource, options);
      URDF::withRobot(description, [&options](auto& robot) {
        const LieGroup::Vector3D g(0, 0, -9.81);
        robot.q().setConstant(0.3);
        robot.qdot().setConstant(-0.2);
        robot.update(false);
        robot.updateJacobian(false);
        if (options.floatingBase) {
          const LieGroup::Twist Vdot(0.1, 0.2, 0.3, -0.1, -0.2, -0.3);
          robot.idyn(robot.V(0), Vdot, robot.qdot(), robot.qdot(), g);
        } else {
          robot.idyn(robot.qdot(), robot.qdot(), g);
          robot.idyn_gravity(g);
        }
        return 0;
      });
    } catch (const URDF::LoadError& e) {
      requireNamedError(e, kSource);
    }
  }
}

}  // namespace zorvik_fuzz

#endif
