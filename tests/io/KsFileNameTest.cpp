#include "io/KsFileName.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/KsErrorCapture.h"
#include "support/ScopedCurrentDirectory.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using kstest::ErrorOf;

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

TEST(KsFileNameWindowsTest, SplitsIntoDriveDirectoryNameAndExtension) {
    for (auto [path, parts] : {
             std::pair{"data.csv", "E:|\\WORK\\|data|.csv"},
             // The extension is only looked for after the last separator.
             {"C:\\dir.d\\file", "C:|\\dir.d\\|file|"},
             {"C:\\a.tar.gz", "C:|\\|a.tar|.gz"},
             {"C:\\x\\a.b<c", "C:|\\x\\|a.b<c|"},
             {"C:\\x\\name.", "C:|\\x\\|name|."},
             {"C:\\data\\sub\\", "C:|\\data\\sub\\||"},
             {"E:file.txt", "E:||file|.txt"},
             {"\\\\SRV\\SHR\\DIR\\X.TXT", "\\\\SRV\\SHR|\\DIR\\|X|.TXT"},
             {"\\\\SRV\\SHR\\X", "\\\\SRV\\SHR|\\|X|"},
             // A share name of one character is a whole share name.
             {"\\\\SRV\\A\\DIR\\X.TXT", "\\\\SRV\\A|\\DIR\\|X|.TXT"},
             {"", "|||"},
         }) {
        KsFileName name(kWindows, path);
        EXPECT_EQ(PartsOf(name), parts) << path;
        std::string whole = parts;
        std::erase(whole, '|');
        EXPECT_EQ(name.GetFullPath(), whole) << path;
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
    name.SetDirectory("D");
    name.SetDrive("E");
    name.SetFileName("a");
    EXPECT_STREQ(name.GetFullPath(), "E:D\\a.txt");
    name.SetExtension(".b");
    name.SetDirectory("\\D\\");
    name.SetDrive("\\\\SRV\\SHR");
    EXPECT_STREQ(name.GetFullPath(), "\\\\SRV\\SHR\\D\\a.b");
    name.SetExtension("");
    name.SetDrive("E:");
    EXPECT_STREQ(name.GetFullPath(), "E:\\D\\a");

    KsFileName copy(name);
    copy.SetDirectory("OTHER");
    EXPECT_STREQ(copy.GetFullPath(), "E:OTHER\\a");
    EXPECT_STREQ(name.GetFullPath(), "E:\\D\\a");
    KsFileName assigned("/tmp/x.y");
    assigned = name;
    assigned.SetDirectory("Z");
    EXPECT_STREQ(assigned.GetFullPath(), "E:Z\\a");
}

TEST(KsFileNameTest, NullArgumentsNameTheOperationAndInvalidCharacters) {
    KsFileName name;
    EXPECT_EQ(ErrorOf([&] { name.Set(nullptr); }),
              "Null pointer / KsFileName / Set() of KsFileName");
    using Setter = void (KsFileName::*)(const char*);
    for (auto [set, function] : {std::pair<Setter, std::string>{&KsFileName::SetDrive, "SetDrive"},
                                 {&KsFileName::SetDirectory, "SetDirectory"},
                                 {&KsFileName::SetFileName, "SetFileName"},
                                 {&KsFileName::SetExtension, "SetExtension"}}) {
        EXPECT_EQ(ErrorOf([&] { (name.*set)(nullptr); }),
                  "Null parameter / KsFileName / " + function + "() of KsFileName");
    }
    std::string invalid;
    for (char c : std::string("<>:\"/\\|aZ09. _-*?$~\t")) {
        invalid.append(KsFileName::IsInvalidFileNameChar(c) ? 1 : 0, c);
    }
    EXPECT_EQ(invalid, "<>:\"/\\|");
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
