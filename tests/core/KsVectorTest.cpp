// Memory blocks, checked vectors and owning vectors of pointers.

#include "core/KsVector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/KsAlloc.h"
#include "core/KsResizableChunk.h"
#include "core/KsSortedVector.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::ClassAndMessageOf;
using kstest::MessageOf;
using Values = std::vector<int>;

TEST(KsAllocTest, BlocksStartWithNulAndFailuresGiveTheReserveBack) {
    EXPECT_NE(std::unique_ptr<char[]>(KsAlloc(0)), nullptr);
    EXPECT_EQ(std::unique_ptr<char[]>(KsAlloc(10))[0], '\0');
    const std::pair<std::int64_t, std::string> failures[] = {
        {-1, "Bad memory allocation request - tried to allocate -1 bytes."},
        {std::int64_t{1} << 50, "Out of memory - tried to allocate 1125899906842624 bytes."}};
    for (const auto& [size, message] : failures) {
        delete[] KsAlloc(1);  // takes a new reserve
        ASSERT_TRUE(KsAllocReserveHeld());
        EXPECT_EQ(ClassAndMessageOf([&] { KsAlloc(size); }), ": " + message);
        EXPECT_THROW(KsAlloc(size), std::bad_alloc);
        EXPECT_FALSE(KsAllocReserveHeld());
    }
    EXPECT_THROW(KsVector<char>().reserve(std::size_t{1} << 50), KsMemoryException);
}

// Large blocks are mapped apart from the heap: a block must go back the way it came, even
// when a vector moves its elements between a small block and a large one.
TEST(KsAllocTest, LargeBlocksAreZeroedAlignedAndFreedTheWayTheyCame) {
    EXPECT_EQ(MessageOf([] { KsAllocLarge(-1); }),
              "Bad memory allocation request - tried to allocate -1 bytes.");
    EXPECT_EQ(MessageOf([] { KsAllocLarge(std::int64_t{1} << 50); }),
              "Out of memory - tried to allocate 1125899906842624 bytes.");
    const std::int64_t size = kKsLargeBlockSize + 1;
    char* block = KsAllocLarge(size);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kKsLargeBlockSize, 0u);
    EXPECT_EQ(block[0] + block[size - 1], 0);
    block[size - 1] = 'x';
    KsFreeLarge(block, size);

    const auto threshold = static_cast<std::int32_t>(kKsLargeBlockSize / 4);
    using Large = KsVector<std::int32_t, KsLargeAllocator<std::int32_t>>;
    Large values;
    for (std::int32_t i = 0; i < threshold + 5; ++i) {  // grows from small blocks into large
        values.push_back(i);
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.data()) % kKsLargeBlockSize, 0u);
    Large copy(values);
    EXPECT_EQ(copy.back(), threshold + 4);
    copy.resize(static_cast<std::size_t>(threshold) - 1);
    copy.shrink_to_fit();  // back into a small block
    EXPECT_EQ(copy.back(), threshold - 2);
    EXPECT_EQ(values[threshold], threshold);
}

std::string Bytes(const KsResizableChunk& c) {
    return std::string(c.GetData(), c.GetChunkSize());
}

TEST(KsResizableChunkTest, ResizeFillsOnlyWhatGrowsAndOffsetsAreChecked) {
    EXPECT_EQ(Bytes(KsResizableChunk(3u)), std::string(3, '\0'));
    KsResizableChunk c(4, 'a');
    EXPECT_EQ(*c.AsPtrAtOffset<char>(3), 'a');
    EXPECT_EQ(ClassAndMessageOf([&] { c.AsPtrAtOffset<char>(4); }),
              "KsResizableChunk: index (value=4) is out of range [0, 4]");
    c.ResizeChunk(8, false, 'x');
    EXPECT_EQ(Bytes(c), "aaaaxxxx");
    c.ResizeChunk(6, false, 'y');  // shrinking fills nothing
    EXPECT_EQ(Bytes(c), "aaaaxx");
    c.ResizeChunk(3, true, 'q');
    EXPECT_EQ(MessageOf([&] { c.Resize(-1); }), "lNewSize, value -1, must be non-negative.");
    EXPECT_EQ(Bytes(c), "qqq");
    c.Resize(0);
    EXPECT_TRUE(c.GetData() == nullptr && c.GetChunkSize() == 0);
}

TEST(KsResizableChunkTest, CopyFromGrowsAndHandlesOverlapAndCopiesAreDeep) {
    KsResizableChunk source(6, 'a');
    std::memcpy(source.GetData(), "abcdef", 6);
    KsResizableChunk target(2, '.');
    target.CopyFrom(source, 10, 2, 1);  // 4 bytes fit from offset 2; grows to 5
    EXPECT_EQ(Bytes(target), ".cdef");
    target.CopyFrom(target, 3, 1, 2);  // overlapping ranges in one chunk
    target.CopyFrom(source, 5, 9, 0);  // offset past the source copies nothing
    EXPECT_EQ(Bytes(target), ".ccde");
    KsResizableChunk copy;
    copy = target;
    copy.GetData()[0] = 'b';
    copy = copy;
    EXPECT_EQ(Bytes(copy) + Bytes(*std::unique_ptr<KsResizableChunk>(target.Clone())),
              "bccde.ccde");
}

std::string OutOfRange(int index, int first, int last) {
    return "KsVector: Index " + std::to_string(index) + " out of range; array is from " +
           std::to_string(first) + " to " + std::to_string(last);
}

TEST(KsVectorTest, LowerBoundIndexing) {
    KsVector<int> v;
    v.assign({10, 20, 30});
    v.SetLowerBound(1);
    EXPECT_EQ(std::pair(v[1], v[3]), std::pair(10, 30));
    EXPECT_EQ(ClassAndMessageOf([&] { v[0]; }), OutOfRange(0, 1, 3));
    EXPECT_EQ(ClassAndMessageOf([&] { v[4]; }), OutOfRange(4, 1, 3));
    EXPECT_EQ(ClassAndMessageOf([] { KsVector<int>()[0]; }), OutOfRange(0, 0, -1));
    int* elements = v.data();
    KsVector<int> moved = std::move(v);  // takes the elements over, not a copy
    EXPECT_EQ(std::pair(moved.data(), moved.GetLowerBound()), std::pair(elements, 1));
}

// Counts live objects so that ownership mistakes show; negative values cannot be cloned.
struct Counted : KsArrayPointerObject {
    static inline int live = 0;
    explicit Counted(int v) : value(v) { ++live; }
    Counted(const Counted& o) : KsArrayPointerObject(o), value(o.value) { ++live; }
    ~Counted() override { --live; }
    Counted* Clone() const override {
        if (value < 0) {
            KsException::Generate("cannot clone %d", "Counted", value);
        }
        return new Counted(*this);
    }
    bool operator<(const Counted& o) const { return value < o.value; }
    bool operator==(const Counted& o) const { return value == o.value; }
    int value;
};

// Every element a test makes is gone once its vectors are.
class OwnershipTest : public ::testing::Test {
protected:
    OwnershipTest() { Counted::live = 0; }
    void TearDown() override { EXPECT_EQ(Counted::live, 0); }
};
using KsPointerVectorTest = OwnershipTest;
using KsSortedVectorTest = OwnershipTest;

using Owning = KsPointerVector<Counted>;
using Sorted = KsSortedVector<Counted>;

std::unique_ptr<Counted> Make(int value) {
    return std::make_unique<Counted>(value);
}

// The values of the elements in order; a null element shows as 0.
template <class Vector>
Values ValuesOf(const Vector& v) {
    Values values;
    for (const Counted* element : v) {
        values.push_back(element != nullptr ? element->value : 0);
    }
    return values;
}

// Operations through which a stored pointer could be dropped or overwritten undeleted, and
// adding at a chosen place, which would break a sorted vector's order.
#define ALLOWS(...)                \
    requires(V & v, Counted * p) { \
        __VA_ARGS__;               \
    }
template <class V>
concept ExposesStoredPointers = ALLOWS(v.push_back(p)) || ALLOWS(v.insert(v.begin(), p)) ||
    ALLOWS(v.erase(v.begin())) || ALLOWS(v.pop_back()) || ALLOWS(v.resize(0)) || ALLOWS(v.data()) ||
    ALLOWS(v[0] = p) || ALLOWS(*v.begin() = p);
template <class V>
concept AddsAnywhere = ALLOWS(v.Add(Make(1))) || ALLOWS(v.InsertAt(0, Make(1)));
#undef ALLOWS
static_assert(!ExposesStoredPointers<Owning> && !ExposesStoredPointers<Sorted>);
static_assert(AddsAnywhere<Owning> && !AddsAnywhere<Sorted>);
static_assert(std::is_same_v<decltype(std::declval<const Owning&>()[0]), const Counted*>);

TEST_F(KsPointerVectorTest, AddInsertDetachAndDeleteKeepOwnership) {
    Owning v;
    v.SetLowerBound(1);
    EXPECT_EQ(v.Add(Make(2))->value, 2);
    v.InsertAt(1, Make(1));
    v.InsertAt(3, Make(4));  // one past the last appends
    v.InsertAt(3, Make(3));
    v.Add(nullptr);
    EXPECT_EQ(ValuesOf(v), (Values{1, 2, 3, 4, 0}));
    // A refused element is deleted, not leaked.
    EXPECT_EQ(ClassAndMessageOf([&] { v.InsertAt(0, Make(9)); }), OutOfRange(0, 1, 5));
    EXPECT_EQ(ClassAndMessageOf([&] { v.InsertAt(7, Make(9)); }), OutOfRange(7, 1, 5));
    EXPECT_EQ(Counted::live, 4);

    std::unique_ptr<Counted> taken = v.Detach(2);
    EXPECT_EQ(taken->value, 2);
    v.DeleteAt(1);
    v.DeleteAt(3);  // the null element
    EXPECT_EQ(ValuesOf(v), (Values{3, 4}));
    EXPECT_EQ(Counted::live, 3);
    EXPECT_EQ(ClassAndMessageOf([&] { v.DeleteAt(3); }), OutOfRange(3, 1, 2));
    v.clear();
    EXPECT_EQ(Counted::live, 1);
    v.Add(Make(5));
}

TEST_F(KsPointerVectorTest, CopiesOwnClonesAndFailedCopiesLeakNothing) {
    Owning a;
    a.SetLowerBound(1);
    a.Add(Make(1));
    a.Add(nullptr);
    a.Add(Make(3));
    Owning b(a);
    EXPECT_EQ(Counted::live, 4);
    EXPECT_NE(b[1], a[1]);
    Owning c;
    c.Add(Make(8));
    c = a;
    c = std::as_const(c);
    EXPECT_EQ(Counted::live, 6);
    Owning moved(std::move(c));
    EXPECT_TRUE(c.empty());
    b = std::move(moved);
    EXPECT_EQ(Counted::live, 4);
    EXPECT_EQ(b.GetLowerBound(), 1);
    EXPECT_EQ(ValuesOf(b), (Values{1, 0, 3}));

    a.Add(Make(-2));
    EXPECT_EQ(kstest::ErrorOf([&] { Owning d(a); }),
              "cannot clone -2 / Counted / InplaceCopy() of KsPointerVector");
    EXPECT_EQ(Counted::live, 5);
    EXPECT_THROW(b = a, KsException);
    EXPECT_EQ(ValuesOf(b), (Values{1, 0, 3}));
}

// Storage that cannot grow: every push_back and insert fails as when memory runs out.
struct FullStorage : KsVector<Counted*> {
    void push_back(Counted*) { throw std::bad_alloc(); }
    iterator insert(const_iterator, Counted*) { throw std::bad_alloc(); }
};

TEST_F(KsPointerVectorTest, ElementIsDeletedWhenTheVectorCannotGrow) {
    KsPointerVector<Counted, FullStorage> v;
    EXPECT_THROW(v.Add(Make(1)), std::bad_alloc);
    EXPECT_THROW(v.InsertAt(0, Make(2)), std::bad_alloc);
    EXPECT_EQ(Counted::live + v.size(), 0u);
}

TEST_F(KsSortedVectorTest, FindPositionAndInsert) {
    Sorted v;
    for (int value : {5, 1, 3, 3, 9}) {
        v.InsertElement(new Counted(value));
    }
    ASSERT_EQ(ValuesOf(v), (Values{1, 3, 3, 5, 9}));
    Counted probe(3), missing(4), big(10);
    EXPECT_EQ(Values({v.FindPosition(&probe), v.Find(&probe), v.FindPosition(&missing),
                      v.Find(&missing), v.FindPosition(&big), v.Find(&big)}),
              (Values{1, 1, 3, -1, 5, -1}));
    EXPECT_EQ(ClassAndMessageOf([&] { v.FindPosition(nullptr); }),
              "KsSortedVector: Null pointer passed to FindPosition");
    EXPECT_EQ(ClassAndMessageOf([&] { v.InsertElement(nullptr); }),
              "KsSortedVector: Null pointer passed to InsertElement");

    // Positions count from the lower bound; a copy owns sorted clones.
    v.SetLowerBound(10);
    EXPECT_EQ(v.InsertElement(Make(4)), 13);
    EXPECT_EQ(v.Find(&missing), 13);
    EXPECT_EQ(v.Find(&big), 9);
    Sorted copy(v);
    v.DeleteAt(10);
    EXPECT_EQ(v.Detach(13)->value, 5);
    EXPECT_EQ(ValuesOf(v), (Values{3, 3, 4, 9}));
    EXPECT_EQ(ValuesOf(copy), (Values{1, 3, 3, 4, 5, 9}));
    EXPECT_EQ(Counted::live, 13);
}

}  // namespace
