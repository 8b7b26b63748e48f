#include "KsException.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "KsCallpath.h"

namespace {

TEST(KsExceptionTest, GenerateFormatsMessageAndClass) {
    try {
        KsException::Generate("File \"%s\" has %d records", "KsFile", "a.dat", 12);
        FAIL();
    } catch (const KsException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "File \"a.dat\" has 12 records");
        EXPECT_STREQ(e.GetClassName(), "KsFile");
        EXPECT_STREQ(e.GetCallpath(), "");
        EXPECT_EQ(e.GetLevel(), 0);
    }
    KsException empty(nullptr, nullptr, 0);
    EXPECT_STREQ(empty.GetErrorMessage(), "");
    EXPECT_STREQ(empty.GetClassName(), "");
}

TEST(KsExceptionTest, AddCallpathLines) {
    KsException e("m", "C", 0);
    e.AddCallpath("Read()", "KsBlob", nullptr);
    EXPECT_STREQ(e.GetCallpath(), "Read() of KsBlob");
    e.AddCallpath("Load()", "KsFile", "x");
    EXPECT_STREQ(e.GetCallpath(), "Read() of KsBlob\r\nLoad() of KsFile (x)");
    e.AddCallpath(nullptr, nullptr, nullptr);
    EXPECT_STREQ(e.GetCallpath(), "Read() of KsBlob\r\nLoad() of KsFile (x)\r\n");
    KsException f;
    f.AddCallpath(nullptr, "C", "d");
    EXPECT_STREQ(f.GetCallpath(), " of C (d)");
}

void Inner() { KsCallpath("Inner()", "A", [] { KsException::Generate("boom %d", "A", 1); }); }
int Middle() {
    return KsCallpath("Middle()", "B", "detail", [] {
        Inner();
        return 5;
    });
}

TEST(KsExceptionTest, RethrownExceptionKeepsGrowingTheSameCallpath) {
    try {
        try {
            Middle();
        } catch (KsException& e) {
            e.AddCallpath("Outer()", "C", nullptr);
            throw;
        }
    } catch (const KsException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "boom 1");
        EXPECT_STREQ(e.GetCallpath(), "Inner() of A\r\nMiddle() of B (detail)\r\nOuter() of C");
    }
}

TEST(KsExceptionTest, CallpathKeepsDynamicTypeAndIgnoresForeignExceptions) {
    EXPECT_THROW(KsCallpath("F()", "X", [] { KsFileException::Generate("m", "X", "f"); }),
                 KsFileException);
    try {
        KsCallpath("F()", "X", [] { throw std::runtime_error("plain"); });
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "plain");
    }
    EXPECT_EQ(KsCallpath("F()", "X", [] { return 3; }), 3);
}

TEST(KsExceptionTest, SystemErrorTextAfterOrBefore) {
    std::string text = std::strerror(ENOENT);
    try {
        errno = ENOENT;
        KsException::GenerateWithSystemError("Could not lock file --", false, "KsIO");
    } catch (const KsException& e) {
        EXPECT_EQ(std::string(e.GetErrorMessage()), "Could not lock file --" + text);
        EXPECT_STREQ(e.GetClassName(), "KsIO");
    }
    try {
        errno = ENOENT;
        KsException::GenerateWithSystemError(" (%d)", true, "KsIO", 3);
    } catch (const KsException& e) {
        EXPECT_EQ(std::string(e.GetErrorMessage()), text + " (3)");
    }
}

TEST(KsExceptionTest, FamilyVariantsCarryTheirFields) {
    try {
        KsFileException::Generate("Cannot open %s", "KsIO", "data.txt", "it");
    } catch (const KsFileException& e) {
        EXPECT_STREQ(e.GetFileName(), "data.txt");
        EXPECT_STREQ(e.GetErrorMessage(), "Cannot open it");
    }
    try {
        KsNotImplementedError::Generate("%s not implemented", "KsIO", "Lock");
    } catch (const KsException& e) {
        EXPECT_EQ(e.GetLevel(), 3);
        EXPECT_STREQ(e.GetErrorMessage(), "Lock not implemented");
        EXPECT_NE(dynamic_cast<const KsNotImplementedError*>(&e), nullptr);
    }
    try {
        KsException::GenerateAs<KsCommissionCanceled>("stopped %d", "KsTransaction", 2);
    } catch (const KsCanceledException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "stopped 2");
        EXPECT_STREQ(e.GetClassName(), "KsTransaction");
    }
    try {
        KsException::GenerateAs<KsFilterRegistryException>("x", "KsFilter");
    } catch (const KsFilterException& e) {
        EXPECT_STREQ(e.GetErrorMessage(), "x");
    }
    EXPECT_THROW(KsException::GenerateAs<KsIOCanceledException>("c", "KsIO"), KsCanceledException);
}

TEST(KsExceptionTest, WrapsStandardException) {
    std::runtime_error inner("disk gone");
    KsException e(inner, "Save()", "KsFile");
    EXPECT_STREQ(e.GetErrorMessage(), "disk gone");
    EXPECT_STREQ(e.GetClassName(), "KsFile");
    EXPECT_STREQ(e.GetCallpath(), "Save() of KsFile");
    KsException f(inner, nullptr, nullptr);
    EXPECT_STREQ(f.GetCallpath(), "");
}

TEST(KsExceptionTest, CopyKeepsAllFields) {
    KsException e("msg %s", "K", 3, "a");
    e.AddCallpath("F()", "K", nullptr);
    KsException copy(e);
    EXPECT_STREQ(copy.GetErrorMessage(), "msg a");
    EXPECT_STREQ(copy.GetClassName(), "K");
    EXPECT_STREQ(copy.GetCallpath(), "F() of K");
    EXPECT_EQ(copy.GetLevel(), 3);
}

}  // namespace
