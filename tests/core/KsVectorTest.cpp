#include "core/KsVector.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/KsErrorCapture.h"
#include "core/KsSortedVector.h"

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

TEST(KsPointerVectorTest, CopyOwnsClonesAndNullsStayNull) {
    Counted::live = 0;
    {
        KsPointerVector<Counted> a;
        a.push_back(new Counted(1));
        a.push_back(nullptr);
        a.push_back(new Counted(3));
        KsPointerVector<Counted> b(a);
        EXPECT_EQ(Counted::live, 4);
        EXPECT_NE(b[0], a[0]);
        EXPECT_EQ(b[0]->value, 1);
        EXPECT_EQ(b[1], nullptr);
        b[0]->value = 9;
        EXPECT_EQ(a[0]->value, 1);
        b = a;
        EXPECT_EQ(Counted::live, 4);
        b.DeleteAt(0);
        EXPECT_EQ(Counted::live, 3);
        std::unique_ptr<Counted> taken(b.Detach(1));
        EXPECT_EQ(taken->value, 3);
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(KsPointerVectorTest, FailedCloneLeaksNothingAndAddsCallpath) {
    Counted::live = 0;
    {
        KsPointerVector<Counted> a;
        a.push_back(new Counted(1));
        a.push_back(new Counted(-2));
        a.push_back(new Counted(3));
        try {
            KsPointerVector<Counted> b(a);
            FAIL();
        } catch (const KsException& e) {
            EXPECT_STREQ(e.GetErrorMessage(), "cannot clone -2");
            EXPECT_STREQ(e.GetCallpath(), "InplaceCopy() of KsPointerVector");
        }
        EXPECT_EQ(Counted::live, 3);
    }
    EXPECT_EQ(Counted::live, 0);
}

TEST(KsSortedVectorTest, FindPositionAndInsert) {
    KsSortedVector<Counted> v;
    for (int value : {5, 1, 3, 3, 9}) {
        v.InsertElement(new Counted(value));
    }
    ASSERT_EQ(v.size(), 5u);
    EXPECT_EQ(v[0]->value, 1);
    EXPECT_EQ(v[4]->value, 9);
    Counted probe(3);
    EXPECT_EQ(v.FindPosition(&probe), 1);
    EXPECT_EQ(v.Find(&probe), 1);
    Counted missing(4);
    EXPECT_EQ(v.FindPosition(&missing), 3);
    EXPECT_EQ(v.Find(&missing), -1);
    Counted big(10);
    EXPECT_EQ(v.FindPosition(&big), 5);
    EXPECT_EQ(ErrorOf([&] { v.FindPosition(nullptr); }),
              "KsSortedVector: Null pointer passed to FindPosition");
    EXPECT_EQ(ErrorOf([&] { v.InsertElement(nullptr); }),
              "KsSortedVector: Null pointer passed to InsertElement");
}

}  // namespace
