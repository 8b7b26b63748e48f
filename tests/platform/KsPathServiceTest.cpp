#include "platform/KsPathService.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/ScopedCurrentDirectory.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

TEST(KsFullPathTest, NamesAreNormalisedAgainstTheCurrentDirectory) {
    kstest::TempDir dir;
    fs::create_directories(dir.Path() / "a" / "b");
    kstest::ScopedCurrentDirectory cwd(dir.Path() / "a" / "b");
    // The directory as the system spells it (the temporary folder may be a link).
    const std::string here = fs::current_path().string();
    const std::string parent = fs::current_path().parent_path().string();
    for (auto [name, full] : {
             std::pair{"data.csv", here + "/data.csv"},
             {"x/y.txt", here + "/x/y.txt"},
             {".", here},
             {"./data.csv", here + "/data.csv"},
             {"..", parent},
             {"x/../../data.csv", parent + "/data.csv"},
             {" odd name ", here + "/ odd name "},  // blanks are kept; the file need not exist
             {"/usr//lib/./x/../data.csv", "/usr/lib/data.csv"},
             {"//usr/lib", "/usr/lib"},
             {"/", "/"},
             {"/..", "/"},
             {"/../../etc/x", "/etc/x"},
             {"/a/b/.", "/a/b"},
             {"/a/b/..", "/a"},
             // A trailing separator is kept once.
             {"/a/b///", "/a/b/"},
             {"x/", here + "/x/"},
             {"x/../", here + "/"},
             {"/a/../", "/"},
             {"", ""},
         }) {
        EXPECT_EQ(KsFullPath(name), full) << name;
    }
    EXPECT_EQ(KsFullPath(nullptr), "");

    fs::create_directory(dir.Path() / "gone");
    kstest::ScopedCurrentDirectory inside(dir.Path() / "gone");
    fs::remove(dir.Path() / "gone");
    errno = 0;
    EXPECT_EQ(KsFullPath("x"), "");
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(KsFullPath("/x"), "/x");  // an absolute name does not need the current directory
}

}  // namespace
