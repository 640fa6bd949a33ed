// Helpers for checking the binary layout clients compiled against the library rely on: the order
// of data members and the order of virtual-table slots.
#ifndef ZORVIK_MODEL_LAYOUT_PROBE_H
#define ZORVIK_MODEL_LAYOUT_PROBE_H

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace model_test {

// Byte offset of a member inside the object that holds it.
template <typename Object, typename Member>
std::ptrdiff_t offsetIn(const Object& object, const Member& member) {
  return reinterpret_cast<const char*>(&member) - reinterpret_cast<const char*>(&object);
}

// Offsets strictly increasing: the members are laid out in the order listed.
inline ::testing::AssertionResult Increasing(const std::vector<std::ptrdiff_t>& offsets) {
  for (std::size_t i = 1; i < offsets.size(); ++i)
    if (offsets[i] <= offsets[i - 1])
      return ::testing::AssertionFailure() << "member " << i << " at offset " << offsets[i]
                                           << " does not follow member " << i - 1 << " at "
                                           << offsets[i - 1];
  return ::testing::AssertionSuccess();
}

// The virtual-table slot of a virtual member function. In the Itanium C++ ABI (GCC and Clang on
// Linux) a pointer to a virtual member function holds 1 + the byte offset of its slot in the
// table, followed by the this-adjustment; -1 is returned for a pointer to a non-virtual function.
template <typename Pmf>
std::ptrdiff_t vtableSlot(Pmf pmf) {
  static_assert(sizeof(Pmf) == 2 * sizeof(std::ptrdiff_t), "Itanium member function pointer");
  std::ptrdiff_t words[2];
  std::memcpy(words, &pmf, sizeof(words));
  if ((words[0] & 1) == 0) return -1;
  return (words[0] - 1) / static_cast<std::ptrdiff_t>(sizeof(void*));
}

}  // namespace model_test

#endif
