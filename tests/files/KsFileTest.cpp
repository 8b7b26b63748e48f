// The table layer common to every format: structure files, passwords, companion files,
// copies from another table and the operations of later layers.

#include "files/KsFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TableTestSupport.h"
#include "files/CBFFile.h"
#include "ini/KsIniFile.h"
#include "io/KsBlob.h"
#include "support/KsErrorCapture.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"
#include "values/KsFormat.h"

namespace {

using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

// A table of two fields and `records` records, closed.
std::string MakeTable(const kstest::TempDir& dir, const char* base, int records,
                      const char* password = nullptr) {
    std::string name = dir.File(base);
    KsFieldList fields = kstest::CBFFields({{"Id", 'N'}, {"Name", 'A', 6}});
    CBFFile::PackFields(nullptr, fields);
    CBFFile table;
    table.SetPassword(password);
    table.Create(name.c_str(), fields, 0, false);
    table.Open(name.c_str(), IO_READ | IO_WRITE, nullptr, nullptr, password);
    for (int i = 1; i <= records; ++i) {
        kstest::AppendTexts(table, {std::to_string(i).c_str(), "row"});
    }
    table.Close();
    return name;
}

TEST(KsFile, StructureFileKeepsUserFlagsCategoriesAndMappedFields) {
    kstest::TempDir dir;
    std::string name = MakeTable(dir, "t", 1);
    std::string header = ReadWholeFile(name + ".kss");
    std::string extra =
        "UserFlagCount=3\r\nUserFlag1=Export;\"Export it; now\";1;1\r\n"
        "UserFlag2=Hidden;\"already registered\";1;1\r\nUserFlag3=Grade;\"\";3;2\r\n"
        "Category1=Money\r\nCategory2=Names\r\nCategory4=lost\r\n";
    header.replace(header.find("UserFlagCount=0\r\n"), 17, extra);
    header.replace(header.find("NumberOfFields=2"), 16, "NumberOfFields=4");
    header += "[Field3]\r\nFieldName=Alias\r\nMappedTo=Name\r\nHidden=true\r\n\r\n";
    header += "[Field4]\r\nFieldName=Other\r\nMappedTo=Id\r\n\r\n";
    WriteWholeFile(name + ".kss", header);

    CBFFile table;
    table.Open(name.c_str(), IO_READ | IO_WRITE);
    ASSERT_EQ(2u, table.GetUserFlagTypes().size());  // "Hidden" is the registry's own
    EXPECT_EQ(0x01u, table.GetUserFlagTypes()[0]->GetMask());
    EXPECT_EQ(0x06u, table.GetUserFlagTypes()[1]->GetMask());
    EXPECT_STREQ("Export it; now", table.GetUserFlagTypes()[0]->GetDescription());
    ASSERT_EQ(2, table.GetCategoryCount());
    EXPECT_STREQ("Names", table.GetCategory(1));
    EXPECT_EQ(2, table.GetFieldNumber("ALIAS"));
    EXPECT_STREQ("Name", table.GetField(2).GetMappedFieldName());
    EXPECT_EQ('A', table.GetField(2).GetType());
    EXPECT_EQ(4, table.GetField(2).GetByteOffset());
    EXPECT_TRUE(table.GetField(2).IsHidden());
    auto missing =
        kstest::CaughtError<KsFieldNotFoundException>([&] { table.GetFieldNumber("nope"); });
    EXPECT_STREQ("nope", missing.GetErrorMessage());
    EXPECT_STREQ("KsFileRecord", missing.GetClassName());

    table.WriteStructure();  // rewritten in one step: every key comes back
    std::string written = ReadWholeFile(name + ".kss");
    for (const char* line : {"UserFlagCount=2\r\n", "UserFlag1=Export;\"Export it; now\";1;1\r\n",
                             "UserFlag2=Grade;\"\";3;2\r\n", "Category2=Names\r\n",
                             "[Field3]\r\nFieldName=Alias\r\nMappedTo=Name\r\n\r\n"}) {
        EXPECT_NE(std::string::npos, written.find(line)) << line;
    }
    EXPECT_EQ(std::string::npos, written.find("Category4"));

    // A mapped name is looked up with its case.
    header.replace(header.find("MappedTo=Name"), 13, "MappedTo=NAME");
    WriteWholeFile(name + ".kss", header);
    EXPECT_EQ("Field 3 is mapped to \"NAME\", which no field section names",
              MessageOf([&] { table.Open(name.c_str(), IO_READ); }));
}

TEST(KsFile, PasswordsAreStoredScrambledAndMustMatch) {
    kstest::TempDir dir;
    std::string name = MakeTable(dir, "secret", 2, "open sesame");
    std::string header = ReadWholeFile(name + ".kss");
    EXPECT_EQ(std::string::npos, header.find("open sesame"));
    std::size_t at = header.find("Password=");
    ASSERT_NE(std::string::npos, at);
    EXPECT_EQ(9 + 22u, header.find("\r\n", at) - at);  // two hexadecimal digits a byte

    CBFFile table;
    table.Open(name.c_str(), IO_READ, nullptr, nullptr, "open sesame");
    EXPECT_EQ(2, table.GetNumRecords());
    for (const char* wrong : {"open sesamE", "open", "", "open sesame!"}) {
        auto error = kstest::CaughtError<KsFileException>(
            [&] { table.Open(name.c_str(), IO_READ, nullptr, nullptr, wrong); });
        EXPECT_STREQ("Invalid password", error.GetErrorMessage()) << wrong;
        EXPECT_EQ(name + ".cbf", error.GetFileName());
    }
}

TEST(KsFile, StructureFileIsFoundBesideTheDataOrAsTheFoldersDefault) {
    kstest::TempDir dir;
    std::string name = MakeTable(dir, "t", 1);
    std::filesystem::rename(name + ".kss", dir.File("default.kss"));
    CBFFile table;
    table.Open(name.c_str(), IO_READ);
    EXPECT_EQ(2, table.GetFieldCount());
    std::filesystem::rename(dir.File("default.kss"), dir.File("x.kss"));
    auto error = kstest::CaughtError<KsFileException>([&] { table.Open(name.c_str(), IO_READ); });
    EXPECT_EQ("Unable to open .KSS for " + name + ".cbf", std::string(error.GetErrorMessage()));
    table.Open(name.c_str(), IO_READ, dir.File("x.kss").c_str());
    EXPECT_EQ(1, table.GetNumRecords());
    EXPECT_EQ("Alternate .KSS file \"" + dir.File("y.kss") + "\" not found",
              MessageOf([&] { table.Open(name.c_str(), IO_READ, dir.File("y.kss").c_str()); }));
}

TEST(KsFile, CompanionFilesAreCopiedRenamedAndDeletedTogether) {
    kstest::TempDir dir;
    std::string name = MakeTable(dir, "t", 3);
    WriteWholeFile(name + ".ksb", "blob");
    WriteWholeFile(name + ".001", "index");
    CBFFile table;
    table.Copy(name.c_str(), dir.File("copy").c_str(), nullptr, true, true);
    for (const char* extension : {".cbf", ".ksb", ".001"}) {
        EXPECT_EQ(ReadWholeFile(name + extension), ReadWholeFile(dir.File("copy") + extension));
    }
    EXPECT_NE(std::string::npos, ReadWholeFile(dir.File("copy.kss")).find("FileName=copy.cbf"));
    table.Rename(dir.File("copy").c_str(), dir.File("moved").c_str());
    for (const char* extension : {".cbf", ".kss", ".ksb", ".001"}) {
        EXPECT_FALSE(std::filesystem::exists(dir.File("copy") + extension)) << extension;
        EXPECT_TRUE(std::filesystem::exists(dir.File("moved") + extension)) << extension;
    }
    EXPECT_EQ("KsFile's Rename can not handle passwords",
              MessageOf([&] { table.Rename(name.c_str(), dir.File("x").c_str(), "pw"); }));
    table.DeleteFile(dir.File("moved").c_str(), false, true);
    for (const char* extension : {".cbf", ".ksb", ".001"}) {
        EXPECT_FALSE(std::filesystem::exists(dir.File("moved") + extension)) << extension;
    }
    EXPECT_TRUE(std::filesystem::exists(dir.File("moved.kss")));
    table.DeleteFile(dir.File("moved").c_str(), true, false);
    EXPECT_FALSE(std::filesystem::exists(dir.File("moved.kss")));
}

TEST(KsFile, CreateFromCopiesEveryRecordWithProgressAndStopsWhenCanceled) {
    kstest::TempDir dir;
    std::string name = MakeTable(dir, "source", 2500);
    CBFFile source;
    source.Open(name.c_str(), IO_READ);
    kstest::RecordingProgress progress;
    CBFFile copy;
    copy.CreateFrom(dir.File("copy").c_str(), source, &progress);
    EXPECT_EQ(2500, copy.GetNumRecords());
    EXPECT_EQ(ReadWholeFile(name + ".cbf"), ReadWholeFile(dir.File("copy.cbf")));
    std::vector<std::string> expected = {
        "SetTitle(Copying 2500 records...)",
        "SetDetail(" + name + ".cbf --> " + dir.File("copy.cbf") + ")",
        "SetMaximum(2500)",
        "SetMinimum(1)",
        "ShouldContinue()",
        "SetPosition(1000)",
        "ShouldContinue()",
        "SetPosition(2000)"};
    EXPECT_EQ(expected, progress.calls);
    EXPECT_EQ(0, copy.GetWriteLockCount());
    EXPECT_EQ(2500, copy.GetSelection().GetSelectedCount());

    kstest::RecordingProgress stop;
    stop.stopAtQuestion = 2;
    CBFFile canceled;
    auto error = kstest::CaughtError<KsFileCanceledException>(
        [&] { canceled.CreateFrom(dir.File("stopped").c_str(), source, &stop); });
    EXPECT_EQ(
        "Copying from \"" + name + ".cbf\" to \"" + dir.File("stopped.cbf") + "\" canceled by user",
        std::string(error.GetErrorMessage()));
    EXPECT_EQ(0, canceled.GetWriteLockCount());
}

// Copies keep each field's stored form, bits and divisor: a Number with two decimals keeps
// them, the records keep their bytes.
TEST(KsFile, CopiesKeepTheStoredFormOfEveryField) {
    kstest::TempDir dir;
    auto source = kstest::CreateTable(dir.File("source.cbf"), kstest::SampleFields());
    const std::vector<const char*> texts = {"7", "12.34", "abc", "5", "1000"};
    kstest::AppendTexts(*source, texts);
    const std::string expected = kstest::TextsOf(*source, 1);
    ASSERT_EQ(expected.substr(0, 8), "7|12.34|");
    source->Flush();
    CBFFile copy;
    copy.CreateFrom(dir.File("copy").c_str(), *source);
    EXPECT_EQ(kstest::TextsOf(copy, 1), expected);
    EXPECT_EQ(ReadWholeFile(dir.File("source.cbf")), ReadWholeFile(dir.File("copy.cbf")));
    CBFFile empty;
    empty.CreateAndOpenFrom(dir.File("empty").c_str(), *source);
    kstest::AppendTexts(empty, texts);
    EXPECT_EQ(kstest::TextsOf(empty, 1), expected);
}

TEST(KsFile, BlobFileIsOpenedBesideTheTableAndDelaysItsFreeing) {
    kstest::TempDir dir;
    std::string name = MakeTable(dir, "t", 1);
    CBFFile table;
    table.Open(name.c_str(), IO_READ | IO_WRITE | IO_TRUNCATE);
    EXPECT_EQ(nullptr, table.GetBlobFile());  // no Blob field: none is opened
    table.OpenBlobFile();
    KsBlobFile* blobs = table.GetBlobFile();
    ASSERT_NE(nullptr, blobs);
    EXPECT_EQ(name + ".ksb", blobs->GetFileName());
    std::int32_t number = blobs->AddBlob("memo", 4);
    KsBlob memo;
    table.DelayExternalUpdates();
    EXPECT_EQ(0, blobs->ChangeReferenceCount(number, -1));
    blobs->GetBlob(number, memo);  // kept while freeing is delayed
    table.PerformExternalUpdates();
    EXPECT_FALSE(blobs->IsDelayedFree());
    EXPECT_THROW(blobs->GetBlob(number, memo), KsException);
    blobs->AddBlob("kept", 4);
    table.Close();
    EXPECT_EQ(nullptr, table.GetBlobFile());
    EXPECT_NE(std::string::npos, ReadWholeFile(name + ".ksb").find("kept"));
    table.Open(name.c_str(), IO_READ | IO_WRITE | IO_TRUNCATE);
    table.OpenBlobFile();  // the table's truncate flag does not empty the blob file
    KsBlob kept;
    table.GetBlobFile()->GetBlob(1, kept);
    EXPECT_EQ("kept", std::string(kept.GetData(), kept.GetSize()));
}

TEST(KsFile, TransactionsNeedTheirLayerAndIndexFilesAreNamedByFieldNumber) {
    kstest::TempDir dir;
    std::string name = MakeTable(dir, "t", 1);
    CBFFile table;
    table.Open(name.c_str(), IO_READ);
    auto record = table.GetNewRecord();
    EXPECT_EQ("No primary key defined for this file", MessageOf([&] { table.DataAdd(*record); }));
    auto error = kstest::CaughtError<KsNotImplementedError>([&] { table.BeginTransaction(true); });
    EXPECT_STREQ("Transactions are not available in this program", error.GetErrorMessage());
    KsFieldList indexed = kstest::CBFFields({{"Id", 'N'}});
    CBFFile::PackFields(nullptr, indexed);
    indexed[0]->SetIndexCount(1);
    table.Create(dir.File("ix").c_str(), indexed, 0, true);
    EXPECT_TRUE(std::filesystem::exists(dir.File("ix.000")));
    EXPECT_FALSE(table.IndexFileExists(0));
    EXPECT_EQ(KsField::GetProcessFormatLib(), table.GetFormatLib());
    KsFormatLib own;
    table.SetFormatLib(&own);
    EXPECT_EQ(&own, table.GetFormatLib());
    EXPECT_EQ(dir.File("t.000"), table.GetIndexFileName(0).GetCString());
}

}  // namespace
