// libFuzzer target: arbitrary doubles into the Lie group operations and both controllers (see
// LieGroupControllerInput.h).
#include "LieGroupControllerInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  zorvik_fuzz::runLieGroupControllerInput(data, size);
  return 0;
}
