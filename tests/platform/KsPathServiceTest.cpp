#include "KsPathService.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "ScopedCurrentDirectory.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;

class KsFullPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_.Path() / "a" / "b");
        cwd_.emplace(dir_.Path() / "a" / "b");
        // The directory as the system spells it (the temporary folder may be a link).
        here_ = fs::current_path().string();
        parent_ = fs::current_path().parent_path().string();
    }
    void TearDown() override { cwd_.reset(); }

    kstest::TempDir dir_;
    std::optional<kstest::ScopedCurrentDirectory> cwd_;
    std::string here_;
    std::string parent_;
};

TEST_F(KsFullPathTest, RelativeNamesAreTakenAgainstTheCurrentDirectory) {
    EXPECT_EQ(KsFullPath("data.csv"), here_ + "/data.csv");
    EXPECT_EQ(KsFullPath("x/y.txt"), here_ + "/x/y.txt");
    EXPECT_EQ(KsFullPath("."), here_);
    EXPECT_EQ(KsFullPath("./data.csv"), here_ + "/data.csv");
    EXPECT_EQ(KsFullPath(".."), parent_);
    EXPECT_EQ(KsFullPath("../data.csv"), parent_ + "/data.csv");
    EXPECT_EQ(KsFullPath("x/../../data.csv"), parent_ + "/data.csv");
    // The file need not exist, and a name with blanks is kept as it is.
    EXPECT_EQ(KsFullPath(" odd name "), here_ + "/ odd name ");
}

TEST_F(KsFullPathTest, AbsoluteNamesAreNormalised) {
    EXPECT_EQ(KsFullPath("/usr//lib/./x/../data.csv"), "/usr/lib/data.csv");
    EXPECT_EQ(KsFullPath("//usr/lib"), "/usr/lib");
    EXPECT_EQ(KsFullPath("/"), "/");
    EXPECT_EQ(KsFullPath("/.."), "/");
    EXPECT_EQ(KsFullPath("/../../etc/x"), "/etc/x");
    EXPECT_EQ(KsFullPath("/a/b/.."), "/a");
    EXPECT_EQ(KsFullPath("/a/b/."), "/a/b");
}

TEST_F(KsFullPathTest, TrailingSeparatorIsKeptOnce) {
    EXPECT_EQ(KsFullPath("/a/b/"), "/a/b/");
    EXPECT_EQ(KsFullPath("/a/b///"), "/a/b/");
    EXPECT_EQ(KsFullPath("x/"), here_ + "/x/");
    EXPECT_EQ(KsFullPath("x/../"), here_ + "/");
    EXPECT_EQ(KsFullPath("/a/../"), "/");
}

TEST_F(KsFullPathTest, EmptyNameAndLostCurrentDirectory) {
    EXPECT_EQ(KsFullPath(""), "");
    EXPECT_EQ(KsFullPath(nullptr), "");

    fs::create_directory(dir_.Path() / "gone");
    kstest::ScopedCurrentDirectory inside(dir_.Path() / "gone");
    fs::remove(dir_.Path() / "gone");
    errno = 0;
    EXPECT_EQ(KsFullPath("x"), "");
    EXPECT_EQ(errno, ENOENT);
    // An absolute name does not need the current directory.
    EXPECT_EQ(KsFullPath("/x"), "/x");
}

}  // namespace
