#include "core/KsException.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "core/KsCallpath.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

TEST(KsExceptionTest, GenerateFormatsMessageAndClass) {
    KsException e = CaughtError(
        [] { KsException::Generate("File \"%s\" has %d records", "KsFile", "a.dat", 12); });
    EXPECT_STREQ(e.GetErrorMessage(), "File \"a.dat\" has 12 records");
    EXPECT_STREQ(e.GetClassName(), "KsFile");
    EXPECT_STREQ(e.GetCallpath(), "");
    EXPECT_EQ(e.GetLevel(), 0);
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

void Inner() {
    KsCallpath("Inner()", "A", [] { KsException::Generate("boom %d", "A", 1); });
}
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
            ADD_FAILURE() << "no error";
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
    EXPECT_THROW(KsCallpath("F()", "X", [] { throw std::runtime_error("plain"); }),
                 std::runtime_error);
    EXPECT_EQ(KsCallpath("F()", "X", [] { return 3; }), 3);
}

TEST(KsExceptionTest, SystemErrorTextAfterOrBefore) {
    const std::string text = std::strerror(ENOENT);
    errno = ENOENT;
    KsException after = CaughtError(
        [] { KsException::GenerateWithSystemError("Could not lock file --", false, "KsIO"); });
    EXPECT_EQ(std::string(after.GetErrorMessage()), "Could not lock file --" + text);
    EXPECT_STREQ(after.GetClassName(), "KsIO");
    errno = ENOENT;
    EXPECT_EQ(MessageOf([] { KsException::GenerateWithSystemError(" (%d)", true, "KsIO", 3); }),
              text + " (3)");
}

TEST(KsExceptionTest, FamilyVariantsCarryTheirFields) {
    auto file = CaughtError<KsFileException>(
        [] { KsFileException::Generate("Cannot open %s", "KsIO", "data.txt", "it"); });
    EXPECT_STREQ(file.GetFileName(), "data.txt");
    EXPECT_STREQ(file.GetErrorMessage(), "Cannot open it");
    auto missing = CaughtError<KsNotImplementedError>(
        [] { KsNotImplementedError::Generate("%s not implemented", "KsIO", "Lock"); });
    EXPECT_EQ(missing.GetLevel(), 3);
    EXPECT_STREQ(missing.GetErrorMessage(), "Lock not implemented");
    auto canceled = CaughtError<KsCanceledException>(
        [] { KsException::GenerateAs<KsCommissionCanceled>("stopped %d", "KsTransaction", 2); });
    EXPECT_STREQ(canceled.GetErrorMessage(), "stopped 2");
    EXPECT_STREQ(canceled.GetClassName(), "KsTransaction");
    EXPECT_THROW(KsException::GenerateAs<KsFilterRegistryException>("x", "KsFilter"),
                 KsFilterException);
    EXPECT_THROW(KsException::GenerateAs<KsIOCanceledException>("c", "KsIO"), KsCanceledException);
}

TEST(KsExceptionTest, WrapsStandardException) {
    std::runtime_error inner("disk gone");
    KsException e(inner, "Save()", "KsFile");
    EXPECT_STREQ(e.GetErrorMessage(), "disk gone");
    EXPECT_STREQ(e.GetClassName(), "KsFile");
    EXPECT_STREQ(e.GetCallpath(), "Save() of KsFile");
    EXPECT_STREQ(KsException(inner, nullptr, nullptr).GetCallpath(), "");
}

}  // namespace
