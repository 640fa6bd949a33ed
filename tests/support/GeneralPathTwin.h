// A twin of a model that the library must treat as a client's: every joint is a class derived from
// the library's joint class it copies (overriding nothing) and every body a class derived from Body
// (overriding nothing). Bodies, joints, state and connectivity are copies of the source's, so the
// twin computes the same quantities as the source, but through the general path that serves
// clients' joints and bodies (virtual calls, column passes), never the one specialised for the
// library's own classes. Comparing the two checks one path against the other. The joint classes are
// Wrap<J> for the library class J: DerivedJoint by default, or a class that also overrides some of
// J's operations.
#ifndef ZORVIK_TEST_GENERAL_PATH_TWIN_H
#define ZORVIK_TEST_GENERAL_PATH_TWIN_H

#include <Vexo/VexoXD>

#include <memory>
#include <stdexcept>
#include <vector>

namespace zorvik_test {

// A joint of the library's class J in every respect but its dynamic type.
template <typename J>
class DerivedJoint : public J {
 public:
  explicit DerivedJoint(const J& j) : J(j) {}
};

// A body in every respect but its dynamic type.
class DerivedBody : public ZorvikFoundation::Body {
 public:
  explicit DerivedBody(const ZorvikFoundation::Body& b) : Body(b) {}
};

template <int N, template <typename> class Wrap = DerivedJoint>
class GeneralPathTwin {
 public:
  typedef ZorvikFoundation::VexoSDK::VexoBaseXD<N> Model;

  explicit GeneralPathTwin(const Model& source) : model_(new Model()) {
    for (int k = 0; k <= N; ++k) {
      bodies_.emplace_back(new DerivedBody(source.body(k)));
      model_->addBody(k, *bodies_.back());
      joints_.push_back(derivedCopy(source.joint(k)));
      if (k == 0)
        model_->addJoint(0, *joints_.back());
      else
        model_->connect(source.parent(k), k, *joints_.back());
    }
    model_->q() = source.q();
    model_->qdot() = source.qdot();
    model_->tau() = source.tau();
    model_->qddot() = source.qddot();
  }
  GeneralPathTwin(const GeneralPathTwin&) = delete;
  GeneralPathTwin& operator=(const GeneralPathTwin&) = delete;
  ~GeneralPathTwin() {
    for (std::size_t k = 0; k < joints_.size(); ++k) deleters_[k](joints_[k]);
  }

  Model& model() { return *model_; }
  ZorvikFoundation::Body& body(int k) { return *bodies_[k]; }

 private:
  ZorvikFoundation::Joint* derivedCopy(const ZorvikFoundation::Joint& j) {
    using namespace ZorvikFoundation;
    switch (j.type()) {
      case FLOATING: return own(static_cast<const FloatingJoint&>(j));
      case RIGID: return own(static_cast<const RigidJoint&>(j));
      case REVOLUTE: return own(static_cast<const RevoluteJoint&>(j));
      case PRISMATIC: return own(static_cast<const PrismaticJoint&>(j));
      case CYLINDRICAL: return own(static_cast<const CylindricalJoint&>(j));
      case SPHERICAL: return own(static_cast<const SphericalJoint&>(j));
      case FREE: return own(static_cast<const FreeJoint&>(j));
      case MDH_REVOLUTE: return own(static_cast<const MDHRevoluteJoint&>(j));
      case MDH_PRISMATIC: return own(static_cast<const MDHPrismaticJoint&>(j));
      default: throw std::invalid_argument("GeneralPathTwin: not a joint class of the library");
    }
  }
  // Joint has no virtual destructor: each copy is deleted through its own type.
  template <typename J>
  ZorvikFoundation::Joint* own(const J& j) {
    deleters_.push_back([](ZorvikFoundation::Joint* p) { delete static_cast<Wrap<J>*>(p); });
    return new Wrap<J>(j);
  }

  std::unique_ptr<Model> model_;
  std::vector<std::unique_ptr<ZorvikFoundation::Body>> bodies_;
  std::vector<ZorvikFoundation::Joint*> joints_;
  std::vector<void (*)(ZorvikFoundation::Joint*)> deleters_;
};

}  // namespace zorvik_test

#endif
