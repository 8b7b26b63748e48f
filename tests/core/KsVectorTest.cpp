#include "core/KsVector.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/KsSortedVector.h"
#include "support/KsErrorCapture.h"

namespace {

// "class: message" of the error that `body` raises.
template <class Body>
std::string ErrorOf(Body body) {
    KsException e = kstest::CaughtError(body);
    return std::string(e.GetClassName()) + ": " + e.GetErrorMessage();
}

TEST(KsVectorTest, LowerBoundIndexing) {
    KsVector<int> v;
    for (int value : {10, 20, 30}) {
        v.push_back(value);
    }
    v.SetLowerBound(1);
    EXPECT_EQ(v[1], 10);
    EXPECT_EQ(v[3], 30);
    EXPECT_EQ(ErrorOf([&] { v[0]; }), "KsVector: Index 0 out of range; array is from 1 to 3");
    EXPECT_EQ(ErrorOf([&] { v[4]; }), "KsVector: Index 4 out of range; array is from 1 to 3");
    KsVector<int> empty;
    EXPECT_EQ(ErrorOf([&] { empty[0]; }), "KsVector: Index 0 out of range; array is from 0 to -1");
}

TEST(KsVectorTest, AllocatorReportsKsMemoryException) {
    KsVector<char> v;
    EXPECT_THROW(v.reserve(std::size_t{1} << 50), KsMemoryException);
}

// Counts live objects so that ownership mistakes show.
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

using Owning = KsPointerVector<Counted>;
using Sorted = KsSortedVector<Counted>;

std::unique_ptr<Counted> Make(int value) {
    return std::make_unique<Counted>(value);
}

// The values of the elements in order; a null element shows as 0.
template <class Vector>
std::vector<int> ValuesOf(const Vector& v) {
    std::vector<int> values;
    for (const Counted* element : v) {
        values.push_back(element != nullptr ? element->value : 0);
    }
    return values;
}

// Operations through which a stored pointer could be dropped or overwritten undeleted.
template <class V>
concept ExposesStoredPointers = requires(V& v, Counted* p) {
    v.push_back(p);
}
|| requires(V& v, Counted* p) {
    v.insert(v.begin(), p);
}
|| requires(V& v) {
    v.erase(v.begin());
}
|| requires(V& v) {
    v.pop_back();
}
|| requires(V& v) {
    v.resize(0);
}
|| requires(V& v) {
    v.data();
}
|| requires(V& v) {
    v[0] = nullptr;
}
|| requires(V& v) {
    *v.begin() = nullptr;
};
static_assert(!ExposesStoredPointers<Owning>);
static_assert(!ExposesStoredPointers<Sorted>);
static_assert(std::is_same_v<decltype(std::declval<Owning&>()[0]), Counted*>);
static_assert(std::is_same_v<decltype(std::declval<const Owning&>()[0]), const Counted*>);
// Adding at a chosen place would break a sorted vector's order.
template <class V>
concept AddsAnywhere = requires(V& v) {
    v.Add(Make(1));
}
|| requires(V& v) {
    v.InsertAt(0, Make(1));
};
static_assert(AddsAnywhere<Owning> && !AddsAnywhere<Sorted>);

TEST(KsPointerVectorTest, AddInsertDetachAndDeleteKeepOwnership) {
    Counted::live = 0;
    {
        Owning v;
        v.SetLowerBound(1);
        EXPECT_EQ(v.Add(Make(2))->value, 2);
        v.InsertAt(1, Make(1));
        v.InsertAt(3, Make(4));  // one past the last appends
        v.InsertAt(3, Make(3));
        v.Add(nullptr);
        EXPECT_EQ(ValuesOf(v), (std::vector<int>{1, 2, 3, 4, 0}));
        EXPECT_EQ(Counted::live, 4);
        // A refused element is deleted, not leaked.
        EXPECT_EQ(ErrorOf([&] { v.InsertAt(0, Make(9)); }),
                  "KsVector: Index 0 out of range; array is from 1 to 5");
        EXPECT_EQ(ErrorOf([&] { v.InsertAt(7, Make(9)); }),
                  "KsVector: Index 7 out of range; array is from 1 to 5");
        EXPECT_EQ(Counted::live, 4);

        std::unique_ptr<Counted> taken = v.Detach(2);
        EXPECT_EQ(taken->value, 2);
        v.DeleteAt(1);
        v.DeleteAt(3);  // the null element
        EXPECT_EQ(ValuesOf(v), (std::vector<int>{3, 4}));
        EXPECT_EQ(Counted::live, 3);
        EXPECT_EQ(ErrorOf([&] { v.DeleteAt(3); }),
                  "KsVector: Index 3 out of range; array is from 1 to 2");
        EXPECT_EQ(ErrorOf([&] { v.Detach(0); }),
                  "KsVector: Index 0 out of range; array is from 1 to 2");
        v[1]->value = 7;
        EXPECT_EQ(std::as_const(v)[1]->value, 7);
        v.clear();
        EXPECT_TRUE(v.empty());
        EXPECT_EQ(Counted::live, 1);
        v.Add(Make(5));
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(KsPointerVectorTest, CopiesOwnClonesAndAssignmentDeletesTheOldElements) {
    Counted::live = 0;
    {
        Owning a;
        a.SetLowerBound(1);
        a.Add(Make(1));
        a.Add(nullptr);
        a.Add(Make(3));
        Owning b(a);
        EXPECT_EQ(Counted::live, 4);
        EXPECT_EQ(b.GetLowerBound(), 1);
        EXPECT_NE(b[1], a[1]);
        EXPECT_EQ(ValuesOf(b), (std::vector<int>{1, 0, 3}));
        b[1]->value = 9;
        EXPECT_EQ(a[1]->value, 1);

        Owning c;
        c.Add(Make(8));
        c = a;
        EXPECT_EQ(Counted::live, 6);
        EXPECT_EQ(c.GetLowerBound(), 1);
        c = std::as_const(c);
        EXPECT_EQ(ValuesOf(c), (std::vector<int>{1, 0, 3}));
        EXPECT_EQ(Counted::live, 6);

        Owning moved(std::move(c));
        EXPECT_TRUE(c.empty());
        b = std::move(moved);
        EXPECT_EQ(Counted::live, 4);
        EXPECT_EQ(b.GetLowerBound(), 1);
        EXPECT_EQ(ValuesOf(b), (std::vector<int>{1, 0, 3}));
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(KsPointerVectorTest, FailedCloneLeaksNothingAndAddsCallpath) {
    Counted::live = 0;
    {
        Owning a;
        a.Add(Make(1));
        a.Add(Make(-2));
        a.Add(Make(3));
        KsException e = kstest::CaughtError([&] { Owning b(a); });
        EXPECT_STREQ(e.GetErrorMessage(), "cannot clone -2");
        EXPECT_STREQ(e.GetCallpath(), "InplaceCopy() of KsPointerVector");
        EXPECT_EQ(Counted::live, 3);
        Owning c;
        c.Add(Make(4));
        EXPECT_THROW(c = a, KsException);
        EXPECT_EQ(ValuesOf(c), (std::vector<int>{4}));
    }
    EXPECT_EQ(Counted::live, 0);
}

// Storage that cannot grow: every push_back and insert fails as when memory runs out.
struct FullStorage : KsVector<Counted*> {
    void push_back(Counted*) { throw std::bad_alloc(); }
    iterator insert(const_iterator, Counted*) { throw std::bad_alloc(); }
};

TEST(KsPointerVectorTest, ElementIsDeletedWhenTheVectorCannotGrow) {
    Counted::live = 0;
    KsPointerVector<Counted, FullStorage> v;
    EXPECT_THROW(v.Add(Make(1)), std::bad_alloc);
    EXPECT_THROW(v.InsertAt(0, Make(2)), std::bad_alloc);
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(Counted::live, 0);
}

TEST(KsSortedVectorTest, FindPositionAndInsert) {
    Counted::live = 0;
    {
        Sorted v;
        for (int value : {5, 1, 3, 3, 9}) {
            v.InsertElement(new Counted(value));
        }
        ASSERT_EQ(ValuesOf(v), (std::vector<int>{1, 3, 3, 5, 9}));
        Counted probe(3);
        EXPECT_EQ(v.FindPosition(&probe), 1);
        EXPECT_EQ(v.Find(&probe), 1);
        Counted missing(4);
        EXPECT_EQ(v.FindPosition(&missing), 3);
        EXPECT_EQ(v.Find(&missing), -1);
        Counted big(10);
        EXPECT_EQ(v.FindPosition(&big), 5);
        EXPECT_EQ(v.Find(&big), -1);
        EXPECT_EQ(ErrorOf([&] { v.FindPosition(nullptr); }),
                  "KsSortedVector: Null pointer passed to FindPosition");
        EXPECT_EQ(ErrorOf([&] { v.InsertElement(nullptr); }),
                  "KsSortedVector: Null pointer passed to InsertElement");

        // Positions count from the lower bound; a copy owns sorted clones.
        v.SetLowerBound(10);
        EXPECT_EQ(v.InsertElement(Make(4)), 13);
        EXPECT_EQ(v.Find(&missing), 13);
        EXPECT_EQ(v.Find(&big), 9);
        Sorted copy(v);
        v.DeleteAt(10);
        EXPECT_EQ(v.Detach(13)->value, 5);
        EXPECT_EQ(ValuesOf(v), (std::vector<int>{3, 3, 4, 9}));
        EXPECT_EQ(ValuesOf(copy), (std::vector<int>{1, 3, 3, 4, 5, 9}));
        EXPECT_EQ(Counted::live, 13);
    }
    EXPECT_EQ(Counted::live, 0);
}

}  // namespace
