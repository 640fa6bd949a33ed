// Heap-allocated objects of every class with the aligned allocation operators sit at 16-byte
// aligned addresses, whichever form of new created them, and a failed allocation is reported the
// standard way: std::bad_alloc from the throwing forms, a null pointer from the nothrow forms.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

#include "support/AlignedTypes.h"

namespace {

bool isAligned16(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

// More than the address space can hold, so every allocator must refuse it.
const std::size_t kImpossibleBytes = std::size_t(1) << 62;

template <typename T>
class AlignedAllocationTest : public ::testing::Test {
  // Listing a type that does not use ZORVIK_MAKE_ALIGNED_OPERATOR_NEW is a compile error.
  static_assert(std::is_void<typename T::zorvik_aligned_operator_new_marker_type>::value,
                "type in AlignedTypes without the aligned allocation operators");
};
TYPED_TEST_SUITE(AlignedAllocationTest, zorvik_test::AlignedTypes);

TYPED_TEST(AlignedAllocationTest, PlainAndArrayNewAreAligned) {
  for (int i = 0; i < 8; ++i) {
    TypeParam* p = new TypeParam;
    EXPECT_TRUE(isAligned16(p));
    delete p;
  }
  for (int n : {1, 2, 3, 7}) {
    TypeParam* a = new TypeParam[n];
    for (int i = 0; i < n; ++i) EXPECT_TRUE(isAligned16(&a[i])) << "element " << i << " of " << n;
    delete[] a;
  }
}

TYPED_TEST(AlignedAllocationTest, NothrowNewIsAligned) {
  TypeParam* p = new (std::nothrow) TypeParam;
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(isAligned16(p));
  delete p;
  TypeParam* a = new (std::nothrow) TypeParam[5];
  ASSERT_NE(a, nullptr);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(isAligned16(&a[i])) << "element " << i;
  delete[] a;
}

// The sized deallocation forms are never chosen by a delete-expression when the unsized form is
// also declared, so they are called explicitly on memory from the matching allocation form.
TYPED_TEST(AlignedAllocationTest, SizedDeleteReleasesAlignedBlocks) {
  void* p = TypeParam::operator new(sizeof(TypeParam));
  EXPECT_TRUE(isAligned16(p));
  TypeParam::operator delete(p, sizeof(TypeParam));
  void* a = TypeParam::operator new[](3 * sizeof(TypeParam));
  EXPECT_TRUE(isAligned16(a));
  TypeParam::operator delete[](a, 3 * sizeof(TypeParam));
  void* q = TypeParam::operator new(sizeof(TypeParam), std::nothrow);
  ASSERT_NE(q, nullptr);
  EXPECT_TRUE(isAligned16(q));
  TypeParam::operator delete(q, std::nothrow);
  void* b = TypeParam::operator new[](2 * sizeof(TypeParam), std::nothrow);
  ASSERT_NE(b, nullptr);
  TypeParam::operator delete[](b, std::nothrow);
}

// Placement forms construct in the caller's storage and hand back exactly that address.
TYPED_TEST(AlignedAllocationTest, PlacementNewUsesCallerStorage) {
  alignas(16) unsigned char buffer[4 * sizeof(TypeParam)];
  TypeParam* p = new (buffer) TypeParam;
  EXPECT_EQ(static_cast<void*>(p), static_cast<void*>(buffer));
  p->~TypeParam();
  EXPECT_EQ(TypeParam::operator new(sizeof(TypeParam), static_cast<void*>(buffer)),
            static_cast<void*>(buffer));
  EXPECT_EQ(TypeParam::operator new[](2 * sizeof(TypeParam), static_cast<void*>(buffer)),
            static_cast<void*>(buffer));
}

TYPED_TEST(AlignedAllocationTest, FailureThrowsBadAllocOrReturnsNull) {
  EXPECT_THROW(TypeParam::operator new(kImpossibleBytes), std::bad_alloc);
  EXPECT_THROW(TypeParam::operator new[](kImpossibleBytes), std::bad_alloc);
  EXPECT_EQ(TypeParam::operator new(kImpossibleBytes, std::nothrow), nullptr);
  EXPECT_EQ(TypeParam::operator new[](kImpossibleBytes, std::nothrow), nullptr);
  // Through new-expressions, with an element count only known at run time.
  volatile std::size_t count = kImpossibleBytes / sizeof(TypeParam);
  EXPECT_THROW(
      {
        TypeParam* a = new TypeParam[count];
        delete[] a;
      },
      std::bad_alloc);
  TypeParam* a = new (std::nothrow) TypeParam[count];
  EXPECT_EQ(a, nullptr);
  delete[] a;
}

}  // namespace
