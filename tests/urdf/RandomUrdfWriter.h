// Random URDF documents for comparisons with KDL: trees (or chains) of N moving joints with what
// the bundled robots lack, prismatic and continuous joints, axes of any direction and length,
// inertial frames rotated by rpy with full inertia tensors, chains of fixed joints between moving
// ones, massless links, branches that split at moving bodies, elements listed in random order.
#ifndef ZORVIK_TEST_URDF_RANDOM_URDF_WRITER_H
#define ZORVIK_TEST_URDF_RANDOM_URDF_WRITER_H

#include <Eigen/Dense>
#include <algorithm>
#include <initializer_list>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/Random.h"
#include "urdf/UrdfText.h"

namespace zorvik_test {

class RandomUrdfWriter {
 public:
  explicit RandomUrdfWriter(unsigned seed) : _rng(seed) {}

  // A tree of n moving joints and some fixed ones, the <link> and <joint> elements shuffled. With
  // serial, every joint hangs off the link written last: one chain, fixed joints in between.
  std::string write(int n, bool serial = false) {
    std::vector<std::string> links = {"root"};
    std::vector<std::string> elements = {link("root", true)};
    int moving = 0, fixed = 0;
    while (moving < n) {
      const std::string parent =
          serial ? links.back()
                 : links[std::uniform_int_distribution<size_t>(0, links.size() - 1)(_rng)];
      if (uniform(0, 1) < 0.3) {
        const std::string child = "f" + std::to_string(++fixed);
        elements.push_back(link(child, uniform(0, 1) < 0.7));
        elements.push_back(joint("fixed_" + child, "fixed", parent, child));
        links.push_back(child);
      } else {
        const std::string child = "m" + std::to_string(++moving);
        static const char* types[] = {"revolute", "prismatic", "continuous"};
        elements.push_back(link(child, true));
        elements.push_back(joint("joint_" + child, types[moving % 3], parent, child));
        links.push_back(child);
      }
    }
    std::shuffle(elements.begin() + 1, elements.end(), _rng);
    std::string body;
    for (const std::string& e : elements) body += e;
    return urdfDocument(body, "random");
  }

 private:
  double uniform(double a, double b) { return zorvik_test::uniform(_rng, a, b); }
  std::string numbers(std::initializer_list<double> values) {
    std::ostringstream os;
    os.precision(17);
    for (double v : values) os << (os.tellp() > 0 ? " " : "") << v;
    return os.str();
  }
  std::string vec3(double range) {
    return numbers({uniform(-range, range), uniform(-range, range), uniform(-range, range)});
  }

  // Mass properties of a box with random sides, its principal axes turned by a random rotation
  // inside an inertial frame that is itself placed by a random origin and rpy.
  std::string link(const std::string& name, bool massive) {
    if (!massive) return "  <link name=\"" + name + "\"/>\n";
    const double m = uniform(0.2, 3), a = uniform(0.02, 0.3), b = uniform(0.02, 0.3),
                 c = uniform(0.02, 0.3);
    const Eigen::Vector3d principal(m * (b * b + c * c) / 12, m * (a * a + c * c) / 12,
                                    m * (a * a + b * b) / 12);
    const Eigen::Matrix3d R =
        Eigen::AngleAxisd(
            uniform(0, 3),
            Eigen::Vector3d(uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)).normalized())
            .toRotationMatrix();
    const Eigen::Matrix3d I = R * principal.asDiagonal() * R.transpose();
    std::ostringstream os;
    os.precision(17);
    os << "ixx=\"" << I(0, 0) << "\" ixy=\"" << I(0, 1) << "\" ixz=\"" << I(0, 2) << "\" iyy=\""
       << I(1, 1) << "\" iyz=\"" << I(1, 2) << "\" izz=\"" << I(2, 2) << "\"";
    return linkXml(name, inertial(numbers({m}), vec3(0.1), vec3(3.1), os.str()));
  }

  // A joint at a random origin; moving joints get an axis of random direction and length
  // (normalised by both readers).
  std::string joint(const std::string& name, const std::string& type, const std::string& parent,
                    const std::string& child) {
    const Eigen::Vector3d axis =
        Eigen::Vector3d(uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)).normalized() *
        uniform(0.5, 2);
    const std::string inner =
        type == "continuous" ? "    <limit effort=\"20\" velocity=\"4\"/>\n" : "";
    return jointXml(name, type, parent, child, inner, vec3(0.3), vec3(3.1),
                    numbers({axis.x(), axis.y(), axis.z()}));
  }

  std::mt19937 _rng;
};

}  // namespace zorvik_test

#endif
