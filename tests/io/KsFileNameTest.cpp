#include "io/KsFileName.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "support/ScopedCurrentDirectory.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// The full-path service of a Windows machine whose current directory is E:\WORK.
std::string FullPathInWorkOnDriveE(const char* path) {
    std::string name(path);
    return name.starts_with("\\\\") || name.find(':') == 1 ? name : "E:\\WORK\\" + name;
}

const KsPathStyle kWindows = KsPathStyle::Windows(&FullPathInWorkOnDriveE);

// "drive|directory|name|extension"
std::string PartsOf(const KsFileName& name) {
    return std::string(name.GetDrive()) + "|" + name.GetDirectory() + "|" + name.GetFileName() +
           "|" + name.GetExtension();
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

TEST(KsFileNameWindowsTest, SplitsIntoDriveDirectoryNameAndExtension) {
    struct Case {
        const char* path;
        const char* parts;
        const char* fullPath;
    };
    for (const Case& c : {
             Case{"data.csv", "E:|\\WORK\\|data|.csv", "E:\\WORK\\data.csv"},
             // The extension is only looked for after the last separator.
             Case{"C:\\dir.d\\file", "C:|\\dir.d\\|file|", nullptr},
             Case{"C:\\a.tar.gz", "C:|\\|a.tar|.gz", nullptr},
             Case{"C:\\x\\a.b|c", "C:|\\x\\|a.b|c|", nullptr},
             Case{"C:\\x\\name.", "C:|\\x\\|name|.", nullptr},
             Case{"C:\\data\\sub\\", "C:|\\data\\sub\\||", nullptr},
             Case{"E:file.txt", "E:||file|.txt", nullptr},
             Case{"\\\\SRV\\SHR\\DIR\\X.TXT", "\\\\SRV\\SHR|\\DIR\\|X|.TXT",
                  "\\\\SRV\\SHR\\DIR\\X.TXT"},
             Case{"\\\\SRV\\SHR\\X", "\\\\SRV\\SHR|\\|X|", nullptr},
             // A share name of one character is a whole share name.
             Case{"\\\\SRV\\A\\DIR\\X.TXT", "\\\\SRV\\A|\\DIR\\|X|.TXT", nullptr},
             Case{"", "|||", ""},
         }) {
        KsFileName name(kWindows, c.path);
        EXPECT_EQ(PartsOf(name), c.parts) << c.path;
        if (c.fullPath != nullptr) {
            EXPECT_STREQ(name.GetFullPath(), c.fullPath) << c.path;
        }
    }
    EXPECT_STREQ(KsFileName(kWindows, "data.csv").GetCompleteFileName(), "data.csv");
    // Blanks and control characters at both ends of the full path are dropped.
    EXPECT_EQ(PartsOf(KsFileName(KsPathStyle::Windows(), " \tC:\\x\\y.txt \r\n")),
              "C:|\\x\\|y|.txt");
}

TEST(KsFileNameWindowsTest, InvalidNetworkPathsLeaveTheNameAsItWas) {
    for (const char* path : {"\\\\SRV", "\\\\SRVX.TXT", "\\\\SRV\\SHR"}) {
        EXPECT_EQ(ErrorOf([&] { KsFileName n(kWindows, path); }),
                  "Invalid UNC name / KsFileName / Set() of KsFileName\r\nConstructor of "
                  "KsFileName")
            << path;
    }
    KsFileName name(kWindows, "C:\\keep\\me.txt");
    EXPECT_EQ(ErrorOf([&] { name.Set("\\\\SRV\\SHR"); }),
              "Invalid UNC name / KsFileName / Set() of KsFileName");
    EXPECT_EQ(PartsOf(name), "C:|\\keep\\|me|.txt");
}

TEST(KsFileNameWindowsTest, SettersCompleteTheirPartsAndCopiesKeepTheStyle) {
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
    name.SetFileName("a.b");
    EXPECT_STREQ(name.GetFullPath(), "\\\\SRV\\SHR\\D\\a.b");

    KsFileName original(kWindows, "E:\\WORK\\table.dat");
    original.SetExtension("kss");
    KsFileName copy(original);
    copy.SetDirectory("OTHER");
    EXPECT_STREQ(copy.GetFullPath(), "E:OTHER\\table.kss");
    EXPECT_STREQ(original.GetFullPath(), "E:\\WORK\\table.kss");
    KsFileName assigned("/tmp/x.y");
    assigned = original;
    assigned.SetDirectory("Z");
    EXPECT_STREQ(assigned.GetFullPath(), "E:Z\\table.kss");
}

TEST(KsFileNameTest, NullArgumentsNameTheOperationAndInvalidCharacters) {
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
    for (char c : std::string("<>:\"/\\|")) {
        EXPECT_TRUE(KsFileName::IsInvalidFileNameChar(c)) << c;
    }
    for (char c : std::string("aZ09. _-*?$~\t")) {
        EXPECT_FALSE(KsFileName::IsInvalidFileNameChar(c)) << c;
    }
}

TEST(KsFileNameNativeTest, RelativeNamesAndEverySpellingGiveOneFullPath) {
    kstest::TempDir dir;
    fs::create_directories(dir.Path() / "work" / "sub");
    kstest::ScopedCurrentDirectory cwd(dir.Path() / "work");
    const std::string here = fs::current_path().string();
    for (auto [path, parts] : {
             std::pair{"data.csv", "|" + here + "/|data|.csv"},
             {"sub/", "|" + here + "/sub/||"},
             {"/opt/x.d/file", "|/opt/x.d/|file|"},
             {"/a.tar.gz", "|/|a.tar|.gz"},
             // A colon is no separator here, but it cannot stand in an extension.
             {"/x/E:a.b:c", "|/x/|E:a.b:c|"},
             {"", "|||"},
         }) {
        EXPECT_EQ(PartsOf(KsFileName(path)), parts) << path;
    }
    for (const char* spelling :
         {"out.txt", "./out.txt", "sub/../out.txt", ".//sub///..//out.txt", "../work/out.txt"}) {
        EXPECT_EQ(KsFileName(spelling).GetFullPath(), here + "/out.txt") << spelling;
    }
    KsFileName name("data.csv");
    name.SetExtension("kss");
    EXPECT_EQ(name.GetFullPath(), here + "/data.kss");
    name.SetDirectory("other");
    EXPECT_STREQ(name.GetDirectory(), "other/");

    fs::create_directory(dir.Path() / "gone");
    kstest::ScopedCurrentDirectory inside(dir.Path() / "gone");
    fs::remove(dir.Path() / "gone");
    KsFileName kept("/kept/name.txt");
    EXPECT_EQ(ErrorOf([&] { kept.Set("x.txt"); }),
              "Could not get full path name -- No such file or directory / KsFileName / Set() "
              "of KsFileName");
    EXPECT_STREQ(kept.GetFullPath(), "/kept/name.txt");
}

}  // namespace
