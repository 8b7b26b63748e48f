#include "KsFileName.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "ScopedCurrentDirectory.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;

// The full-path service of a Windows machine whose current directory is E:\WORK.
std::string FullPathInWorkOnDriveE(const char* path) {
    std::string name(path);
    if (name.starts_with("\\\\") || name.find(':') == 1) {
        return name;
    }
    return "E:\\WORK\\" + name;
}

const KsPathStyle kWindows = KsPathStyle::Windows(&FullPathInWorkOnDriveE);

struct Parts {
    std::string drive, directory, name, extension;
    bool operator==(const Parts&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Parts& p) {
    return out << "[" << p.drive << "|" << p.directory << "|" << p.name << "|" << p.extension
               << "]";
}

Parts PartsOf(const KsFileName& name) {
    return {name.GetDrive(), name.GetDirectory(), name.GetFileName(), name.GetExtension()};
}

Parts SplitWindows(const char* path) {
    return PartsOf(KsFileName(kWindows, path));
}

// The error that `body` throws, as "message / class / call path".
template <class Body>
std::string ErrorOf(Body body) {
    try {
        body();
    } catch (const KsException& e) {
        return std::string(e.GetErrorMessage()) + " / " + e.GetClassName() + " / " +
               e.GetCallpath();
    }
    return "no error";
}

TEST(KsFileNameWindowsTest, RelativeNameGetsDriveAndDirectory) {
    KsFileName name(kWindows, "data.csv");
    EXPECT_EQ(PartsOf(name), (Parts{"E:", "\\WORK\\", "data", ".csv"}));
    EXPECT_STREQ(name.GetFullPath(), "E:\\WORK\\data.csv");
    EXPECT_STREQ(name.GetCompleteFileName(), "data.csv");
    EXPECT_STREQ(name.GetFullPath(), "E:\\WORK\\data.csv");
}

TEST(KsFileNameWindowsTest, ExtensionOnlyAfterTheLastSeparator) {
    EXPECT_EQ(SplitWindows("C:\\dir.d\\file"), (Parts{"C:", "\\dir.d\\", "file", ""}));
    EXPECT_EQ(SplitWindows("C:\\a.tar.gz"), (Parts{"C:", "\\", "a.tar", ".gz"}));
    EXPECT_EQ(SplitWindows("C:\\x\\a.b|c"), (Parts{"C:", "\\x\\", "a.b|c", ""}));
    EXPECT_EQ(SplitWindows("C:\\x\\name."), (Parts{"C:", "\\x\\", "name", "."}));
}

TEST(KsFileNameWindowsTest, TrailingSeparatorAndDriveRelativeNames) {
    EXPECT_EQ(SplitWindows("C:\\data\\sub\\"), (Parts{"C:", "\\data\\sub\\", "", ""}));
    EXPECT_EQ(SplitWindows("E:file.txt"), (Parts{"E:", "", "file", ".txt"}));
    // Blanks and control characters at both ends of the full path are dropped.
    KsFileName asTyped(KsPathStyle::Windows(), " \tC:\\x\\y.txt \r\n");
    EXPECT_EQ(PartsOf(asTyped), (Parts{"C:", "\\x\\", "y", ".txt"}));
}

TEST(KsFileNameWindowsTest, NetworkPaths) {
    KsFileName name(kWindows, "\\\\SRV\\SHR\\DIR\\X.TXT");
    EXPECT_EQ(PartsOf(name), (Parts{"\\\\SRV\\SHR", "\\DIR\\", "X", ".TXT"}));
    EXPECT_STREQ(name.GetFullPath(), "\\\\SRV\\SHR\\DIR\\X.TXT");
    EXPECT_EQ(SplitWindows("\\\\SRV\\SHR\\X"), (Parts{"\\\\SRV\\SHR", "\\", "X", ""}));
    // A share name of one character is a whole share name.
    EXPECT_EQ(SplitWindows("\\\\SRV\\A\\DIR\\X.TXT"),
              (Parts{"\\\\SRV\\A", "\\DIR\\", "X", ".TXT"}));
}

TEST(KsFileNameWindowsTest, InvalidNetworkPathsAndNameKeptAfterFailure) {
    const std::string invalid =
        "Invalid UNC name / KsFileName / Set() of KsFileName\r\nConstructor of KsFileName";
    EXPECT_EQ(ErrorOf([] { KsFileName n(kWindows, "\\\\SRV"); }), invalid);
    EXPECT_EQ(ErrorOf([] { KsFileName n(kWindows, "\\\\SRVX.TXT"); }), invalid);
    EXPECT_EQ(ErrorOf([] { KsFileName n(kWindows, "\\\\SRV\\SHR"); }), invalid);

    KsFileName name(kWindows, "C:\\keep\\me.txt");
    EXPECT_EQ(ErrorOf([&] { name.Set("\\\\SRV\\SHR"); }),
              "Invalid UNC name / KsFileName / Set() of KsFileName");
    EXPECT_EQ(PartsOf(name), (Parts{"C:", "\\keep\\", "me", ".txt"}));
}

TEST(KsFileNameWindowsTest, SettersCompleteTheirParts) {
    KsFileName name(kWindows);
    name.SetExtension("txt");
    EXPECT_STREQ(name.GetExtension(), ".txt");
    name.SetExtension("");
    EXPECT_STREQ(name.GetExtension(), "");
    name.SetDirectory("D");
    EXPECT_STREQ(name.GetDirectory(), "D\\");
    name.SetDirectory("\\D\\");
    EXPECT_STREQ(name.GetDirectory(), "\\D\\");
    name.SetDrive("E");
    EXPECT_STREQ(name.GetDrive(), "E:");
    name.SetDrive("E:");
    EXPECT_STREQ(name.GetDrive(), "E:");
    name.SetDrive("\\\\SRV\\SHR");
    EXPECT_STREQ(name.GetDrive(), "\\\\SRV\\SHR");
    name.SetFileName("a.b");
    EXPECT_STREQ(name.GetFullPath(), "\\\\SRV\\SHR\\D\\a.b");
}

TEST(KsFileNameWindowsTest, CompanionFileAndEmptyName) {
    KsFileName name(kWindows, "E:\\WORK\\table.dat");
    name.SetExtension("kss");
    EXPECT_STREQ(name.GetFullPath(), "E:\\WORK\\table.kss");
    name.Set("");
    EXPECT_EQ(PartsOf(name), (Parts{"", "", "", ""}));
    EXPECT_STREQ(name.GetFullPath(), "");
}

TEST(KsFileNameTest, CopiesKeepStyleAndParts) {
    KsFileName original(kWindows, "E:\\WORK\\table.dat");
    KsFileName copy(original);
    EXPECT_EQ(PartsOf(copy), PartsOf(original));
    copy.SetDirectory("OTHER");
    EXPECT_STREQ(copy.GetFullPath(), "E:OTHER\\table.dat");
    EXPECT_STREQ(original.GetFullPath(), "E:\\WORK\\table.dat");

    KsFileName assigned("/tmp/x.y");
    assigned = original;
    EXPECT_STREQ(assigned.GetFullPath(), "E:\\WORK\\table.dat");
    assigned.SetDirectory("Z");
    EXPECT_STREQ(assigned.GetDirectory(), "Z\\");
}

TEST(KsFileNameTest, NullArgumentsNameTheOperation) {
    KsFileName name;
    EXPECT_EQ(ErrorOf([&] { name.Set(nullptr); }),
              "Null pointer / KsFileName / Set() of KsFileName");
    EXPECT_EQ(ErrorOf([&] { name.SetDrive(nullptr); }),
              "Null parameter / KsFileName / SetDrive() of KsFileName");
    EXPECT_EQ(ErrorOf([&] { name.SetDirectory(nullptr); }),
              "Null parameter / KsFileName / SetDirectory() of KsFileName");
    EXPECT_EQ(ErrorOf([&] { name.SetFileName(nullptr); }),
              "Null parameter / KsFileName / SetFileName() of KsFileName");
    EXPECT_EQ(ErrorOf([&] { name.SetExtension(nullptr); }),
              "Null parameter / KsFileName / SetExtension() of KsFileName");
}

TEST(KsFileNameTest, InvalidFileNameCharacters) {
    for (char c : std::string("<>:\"/\\|")) {
        EXPECT_TRUE(KsFileName::IsInvalidFileNameChar(c)) << c;
    }
    for (char c : std::string("aZ09. _-*?$~\t")) {
        EXPECT_FALSE(KsFileName::IsInvalidFileNameChar(c)) << c;
    }
}

class KsFileNameNativeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(dir_.Path() / "work" / "sub");
        cwd_.emplace(dir_.Path() / "work");
        here_ = fs::current_path().string();
    }
    void TearDown() override { cwd_.reset(); }

    kstest::TempDir dir_;
    std::optional<kstest::ScopedCurrentDirectory> cwd_;
    std::string here_;
};

TEST_F(KsFileNameNativeTest, RelativeNameBecomesFullPath) {
    KsFileName name("data.csv");
    EXPECT_EQ(PartsOf(name), (Parts{"", here_ + "/", "data", ".csv"}));
    EXPECT_EQ(name.GetFullPath(), here_ + "/data.csv");
    name.SetExtension("kss");
    EXPECT_EQ(name.GetFullPath(), here_ + "/data.kss");

    EXPECT_EQ(PartsOf(KsFileName("sub/")), (Parts{"", here_ + "/sub/", "", ""}));
    EXPECT_EQ(PartsOf(KsFileName("/opt/x.d/file")), (Parts{"", "/opt/x.d/", "file", ""}));
    EXPECT_EQ(PartsOf(KsFileName("/a.tar.gz")), (Parts{"", "/", "a.tar", ".gz"}));
    // A colon is no separator here, but it cannot stand in an extension.
    EXPECT_EQ(PartsOf(KsFileName("/x/E:a.b:c")), (Parts{"", "/x/", "E:a.b:c", ""}));
    EXPECT_EQ(PartsOf(KsFileName("")), (Parts{"", "", "", ""}));
}

TEST_F(KsFileNameNativeTest, SpellingsOfOneFileGiveOneFullPath) {
    const std::string expected = here_ + "/out.txt";
    for (const char* spelling :
         {"out.txt", "./out.txt", "sub/../out.txt", ".//sub///..//out.txt", "../work/out.txt"}) {
        EXPECT_EQ(KsFileName(spelling).GetFullPath(), expected) << spelling;
    }
    KsFileName directory("sub/./");
    directory.SetDirectory("other");
    EXPECT_STREQ(directory.GetDirectory(), "other/");
}

TEST_F(KsFileNameNativeTest, LostCurrentDirectoryIsReported) {
    fs::create_directory(dir_.Path() / "gone");
    kstest::ScopedCurrentDirectory inside(dir_.Path() / "gone");
    fs::remove(dir_.Path() / "gone");
    KsFileName name("/kept/name.txt");
    EXPECT_EQ(ErrorOf([&] { name.Set("x.txt"); }),
              "Could not get full path name -- No such file or directory / KsFileName / Set() "
              "of KsFileName");
    EXPECT_STREQ(name.GetFullPath(), "/kept/name.txt");
}

}  // namespace
