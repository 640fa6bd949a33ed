// The aligned allocation operators of the library's classes (ZORVIK_MAKE_ALIGNED_OPERATOR_NEW):
// every allocation form pairs with its deallocation form, the placement forms use the caller's
// storage, and a failed allocation is reported the standard way: std::bad_alloc from the throwing
// forms, a null pointer from the nothrow forms. (Alignment itself is checked by the debug library's
// death tests: glibc's malloc returns 16-byte aligned blocks anyway, so a check of the address of a
// heap object could not fail here.)
#include <Controller/HTransformController>
#include <Vexo/MomentumObserverXD>
#include <Vexo/VexoXD>
#include <ZorvikCommon>
#include <gtest/gtest.h>

#include <cstddef>
#include <new>
#include <type_traits>

namespace aligned_allocation_test {

using namespace ZorvikFoundation;
using namespace ZorvikFoundation::VexoSDK;

// A plain aggregate holding a fixed-size vectorisable matrix behind a member that shifts it, and a
// polymorphic class like the client extension points, whose non-trivial destructor makes array new
// store an element count in front of the array, next to every library class with the operators.
// Add a class here when it gains them.
struct AlignedProbe {
  char tag;
  Matrix6d m;
  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW
};

struct AlignedPolymorphicProbe {
  virtual ~AlignedPolymorphicProbe() {}
  Vector6d v;
  double d = 0;
  ZORVIK_MAKE_ALIGNED_OPERATOR_NEW
};

using AlignedTypes = ::testing::Types<
    AlignedProbe, AlignedPolymorphicProbe, Inertia, Body, RevoluteJoint, FreeJoint, VexoBaseXD<6>,
    VexoBaseXD<7>, VexoBaseXD<14>, VexoBaseXD<16>, MomentumObserverXD<6>, MomentumObserverXD<7>,
    MomentumObserverXD<14>, MomentumObserverXD<16>, HTransformController>;

// More than the address space can hold, so every allocator must refuse it.
const std::size_t kImpossibleBytes = std::size_t(1) << 62;

template <typename T>
class AlignedAllocationTest : public ::testing::Test {
  // Listing a type that does not use ZORVIK_MAKE_ALIGNED_OPERATOR_NEW is a compile error.
  static_assert(std::is_void<typename T::zorvik_aligned_operator_new_marker_type>::value,
                "type in AlignedTypes without the aligned allocation operators");
};
TYPED_TEST_SUITE(AlignedAllocationTest, AlignedTypes);

// The sized deallocation forms are never chosen by a delete-expression when the unsized form is
// also declared, so they are called explicitly on memory from the matching allocation form.
TYPED_TEST(AlignedAllocationTest, SizedDeleteReleasesAlignedBlocks) {
  void* p = TypeParam::operator new(sizeof(TypeParam));
  TypeParam::operator delete(p, sizeof(TypeParam));
  void* a = TypeParam::operator new[](3 * sizeof(TypeParam));
  TypeParam::operator delete[](a, 3 * sizeof(TypeParam));
  void* q = TypeParam::operator new(sizeof(TypeParam), std::nothrow);
  ASSERT_NE(q, nullptr);
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

}  // namespace aligned_allocation_test
