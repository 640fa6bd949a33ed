// Small URDF documents written by tests: builders for links and joints, and a temporary file that
// holds a document for the loader to read.
#ifndef ZORVIK_TEST_URDF_TEXT_H
#define ZORVIK_TEST_URDF_TEXT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace zorvik_test {

inline std::string urdfDocument(const std::string& body, const std::string& name = "test") {
  return "<?xml version=\"1.0\"?>\n<robot name=\"" + name + "\">\n" + body + "</robot>\n";
}

inline std::string inertial(
    const std::string& mass = "1", const std::string& xyz = "0 0 0",
    const std::string& rpy = "0 0 0",
    const std::string& moments =
        "ixx=\"0.02\" ixy=\"0\" ixz=\"0\" iyy=\"0.02\" iyz=\"0\" izz=\"0.02\"") {
  return "    <inertial>\n      <origin xyz=\"" + xyz + "\" rpy=\"" + rpy +
         "\"/>\n      <mass value=\"" + mass + "\"/>\n      <inertia " + moments +
         "/>\n    </inertial>\n";
}

inline std::string linkXml(const std::string& name, const std::string& inner = inertial()) {
  return "  <link name=\"" + name + "\">\n" + inner + "  </link>\n";
}

inline std::string jointLimit() {
  return "    <limit lower=\"-2\" upper=\"2\" effort=\"10\" velocity=\"3\"/>\n";
}

inline std::string jointXml(const std::string& name, const std::string& type,
                            const std::string& parent, const std::string& child,
                            const std::string& inner = "", const std::string& xyz = "0 0 0.1",
                            const std::string& rpy = "0 0 0", const std::string& axis = "0 0 1") {
  return "  <joint name=\"" + name + "\" type=\"" + type + "\">\n    <parent link=\"" + parent +
         "\"/>\n    <child link=\"" + child + "\"/>\n    <origin xyz=\"" + xyz + "\" rpy=\"" + rpy +
         "\"/>\n    <axis xyz=\"" + axis + "\"/>\n" +
         (type == "revolute" || type == "prismatic" ? jointLimit() : "") + inner + "  </joint>\n";
}

// A serial chain of n revolute joints j1..jn from link l0 to link ln.
inline std::string chain(int n) {
  std::string body = linkXml("l0");
  for (int i = 1; i <= n; ++i)
    body += linkXml("l" + std::to_string(i)) +
            jointXml("j" + std::to_string(i), "revolute", "l" + std::to_string(i - 1),
                  "l" + std::to_string(i), "", "0 0.1 0.2", "0.3 0 0", i % 2 ? "0 0 1" : "0 1 0");
  return body;
}

// A file in the test temporary directory, removed with the object. The name carries the process
// id, so that the release and debug builds of a test can run at the same time.
class TemporaryUrdf {
 public:
  TemporaryUrdf(const std::string& text, const std::string& stem) {
    _path = ::testing::TempDir() + "zorvik_" + stem + "_" + std::to_string(::getpid()) + ".urdf";
    std::ofstream(_path) << text;
  }
  ~TemporaryUrdf() { std::remove(_path.c_str()); }
  TemporaryUrdf(const TemporaryUrdf&) = delete;
  TemporaryUrdf& operator=(const TemporaryUrdf&) = delete;
  const std::string& path() const { return _path; }

 private:
  std::string _path;
};

}  // namespace zorvik_test

#endif
