// libFuzzer target: mutated robot descriptions into the URDF loader (see UrdfInput.h).
#include "UrdfInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zorvik_fuzz::runUrdfInput(data, size);
  return 0;
}
