// A client's own one-coordinate joint, built on JointBase like the library's joints, with one
// virtual operation of its own.
#ifndef ZORVIK_TEST_CLIENT_JOINT_H
#define ZORVIK_TEST_CLIENT_JOINT_H

#include <AMBS/Joint>

namespace zorvik_test {
class ClientJoint;
}

template <>
struct ZorvikFoundation::JointTraits<zorvik_test::ClientJoint> {
  enum { DOF = 1 };
  static constexpr ZorvikFoundation::JOINTTYPE TYPE = ZorvikFoundation::CUSTOM;
};

namespace zorvik_test {

class ClientJoint : public ZorvikFoundation::JointBase<ClientJoint> {
 public:
  void update(const double*) override {}
  void update(const double*, const double*) override {}
  void updateVelocity(const double*, const double*) override {}
  // The first virtual operation a client adds comes after everything JointBase declares.
  virtual int clientOperation() { return 1; }
};

}  // namespace zorvik_test

#endif
