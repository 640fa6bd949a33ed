// Friction torques and writing the joints' <dynamics> into a URDF document.
#include "ZorvikIdentification/Friction"

#include <tinyxml2.h>

#include <cstdio>
#include <map>

namespace ZorvikFoundation {
namespace Identification {

Eigen::VectorXd JointFriction::torques(const Eigen::VectorXd& qdot) const {
  Eigen::VectorXd tau(qdot.size());
  for (Eigen::Index j = 0; j < qdot.size(); ++j)
    tau(j) = viscous(j) * qdot(j) + coulomb(j) * smoothedSign(qdot(j)) +
             (offset.size() > j ? offset(j) : 0.0);
  return tau;
}

namespace {

// 17 significant digits: enough for every double to read back as itself.
std::string exact(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", x);
  return text;
}

}  // namespace

std::string withJointDynamics(const std::string& xml, const std::vector<std::string>& joints,
                              const JointFriction& friction) {
  const Eigen::Index n = static_cast<Eigen::Index>(joints.size());
  if (friction.viscous.size() != n || friction.coulomb.size() != n)
    throw IdentificationError("withJointDynamics: " + std::to_string(joints.size()) +
                              " joints but " + std::to_string(friction.viscous.size()) +
                              " viscous and " + std::to_string(friction.coulomb.size()) +
                              " Coulomb coefficients");
  tinyxml2::XMLDocument doc;
  if (doc.Parse(xml.c_str(), xml.size()) != tinyxml2::XML_SUCCESS)
    throw IdentificationError(std::string("withJointDynamics: the URDF does not parse: ") +
                              doc.ErrorStr());
  tinyxml2::XMLElement* robot = doc.FirstChildElement("robot");
  if (!robot) throw IdentificationError("withJointDynamics: the document has no <robot>");
  std::map<std::string, tinyxml2::XMLElement*> byName;
  for (tinyxml2::XMLElement* e = robot->FirstChildElement("joint"); e;
       e = e->NextSiblingElement("joint"))
    if (const char* name = e->Attribute("name")) byName[name] = e;
  for (Eigen::Index j = 0; j < n; ++j) {
    const auto found = byName.find(joints[j]);
    if (found == byName.end())
      throw IdentificationError("withJointDynamics: the URDF has no joint '" + joints[j] + "'");
    if (!(friction.viscous(j) >= 0) || !(friction.coulomb(j) >= 0))
      throw IdentificationError("withJointDynamics: joint '" + joints[j] +
                                "' has a negative (or NaN) damping or friction: " +
                                exact(friction.viscous(j)) + ", " + exact(friction.coulomb(j)));
    tinyxml2::XMLElement* dynamics = found->second->FirstChildElement("dynamics");
    if (!dynamics) dynamics = found->second->InsertNewChildElement("dynamics");
    dynamics->SetAttribute("damping", exact(friction.viscous(j)).c_str());
    dynamics->SetAttribute("friction", exact(friction.coulomb(j)).c_str());
  }
  tinyxml2::XMLPrinter printer;
  doc.Print(&printer);
  return printer.CStr();
}

}  // namespace Identification
}  // namespace ZorvikFoundation
