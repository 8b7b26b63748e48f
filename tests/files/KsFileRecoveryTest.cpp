// Writers of a table that die: the change markers and new files they leave beside the table,
// and the repair that the next open for writing makes of what they stand for.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>

#include "TableTestSupport.h"
#include "files/KsTableLeftovers.h"
#include "index/KsIndex.h"
#include "io/KsIO.h"
#include "support/ChildProcess.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::ReadWholeFile;

class KsFileRecovery : public ::testing::Test {
protected:
    KsFileRecovery() { MakeTable(); }
    // survey.cbf: Id and Name, both indexed, four records, index files written; nothing else
    // in the folder.
    void MakeTable() {
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            std::filesystem::remove(entry.path());
        }
        KsFieldList fields = kstest::CBFFields({{"Id", 'I'}, {"Name", 'A', 6}});
        fields[0]->SetIndexCount(1);
        fields[1]->SetIndexCount(1);
        CBFFile::PackFields(nullptr, fields);
        std::unique_ptr<CBFFile> table = kstest::CreateTable(Name(), std::move(fields));
        for (const char* id : {"1", "2", "3", "4"}) {
            kstest::AppendTexts(*table, {id, "n"});
        }
        table->LoadIndexes();
        table->Close();
    }
    std::string Name() const { return dir.File("survey.cbf"); }
    std::unique_ptr<CBFFile> Open(int flags = IO_READ | IO_WRITE) {
        auto table = std::make_unique<CBFFile>();
        table->Open(Name().c_str(), flags);
        return table;
    }
    // The names in the table's folder, sorted.
    std::vector<std::string> Files() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // The ids of the records.
    static std::string Ids(KsFile& table) {
        std::string ids;
        for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
            ids += kstest::TextsOf(table, n).substr(0, kstest::TextsOf(table, n).find('|'));
        }
        return ids;
    }
    // Whether each index file reads back as the index built from the records.
    static bool IndexFilesAgree(KsFile& table) {
        for (std::uint16_t field = 0; field < 2; ++field) {
            KsIndex stored(table.GetField(field).GetType(),
                           static_cast<std::uint16_t>(table.GetField(field).GetLength()),
                           table.GetNumRecords());
            try {
                KsIO file(table.GetIndexFileName(field).GetCString(), IO_READ);
                stored.Read(file);
            } catch (const KsException&) {
                return false;
            }
            if (!stored.IsSameAs(KsIndex(table, field, nullptr))) {
                return false;
            }
        }
        return true;
    }
    void AppendRaw(KsFile& table, const char* id) {
        std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
        record->PutField(0, id, KsFileRecord::kPlain);
        record->PutField(1, "x", KsFileRecord::kPlain);
        table.DataAppend(*record);
    }

    kstest::TempDir dir;
    const std::vector<std::string> tableFiles{"survey.000", "survey.001", "survey.cbf",
                                              "survey.kss"};
};

// A child that dies in the middle of a change leaves the table for the next open for
// writing to repair: records appended under a marker are cut off, index files deleted or
// stale are built afresh, new files half written are removed; each repair is said.
TEST_F(KsFileRecovery, WhatAWriterThatDiedLeftIsRepairedAtTheNextOpenForWriting) {
    const std::string table = Name();
    const std::string rebuilt = "the index file of field \"Id\" of \"" + table +
                                "\" was built afresh|" + "the index file of field \"Name\" of \"" +
                                table + "\" was built afresh|";
    struct Case {
        const char* what;
        std::function<void(CBFFile&)> dieIn;
        const char* ids;      // after the repair
        std::string repairs;  // each followed by "|"; a new file's random part as XXXXXX
    } cases[] = {
        {"records appended under a marker that keeps four",
         [&](CBFFile& t) {
             KsFile::ChangeScope change = t.BeginChange(4);
             AppendRaw(t, "5");
             AppendRaw(t, "6");
             t.Flush();
             _exit(kstest::kDiedStatus);
         },
         "1234",
         "\"" + table +
             "\" was cut back to its 4 records: a change that was adding 2 records "
             "to it was cut short|"},
        {"records appended to a table emptied first, under a marker that keeps none",
         [&](CBFFile& t) {
             t.KeepRecords(0);
             KsFile::ChangeScope change = t.BeginChange(0);
             AppendRaw(t, "5");
             t.Flush();
             _exit(kstest::kDiedStatus);
         },
         "",
         "\"" + table +
             "\" was cut back to its 0 records: a change that was adding 1 record "
             "to it was cut short|" +
             rebuilt},
        {"a sort's run file made and not yet nameless",
         [&](CBFFile& t) {
             std::filesystem::create_directory(dir.File("runs"));
             KsFile::ChangeScope change = t.BeginChange(-1, dir.File("runs").c_str());
             KsString run;
             KsIOInterface::CreateClaimedTempFile(run, dir.File("runs").c_str(), "QJsrt");
             _exit(kstest::kDiedStatus);
         },
         "1234",
         "\"" + dir.File("runs/QJsrtXXXXXX") +
             "\", left by a sort that was cut short, was removed|"},
        {"the index files deleted in a change",
         [&](CBFFile& t) {
             KsFile::ChangeScope change = t.BeginChange();
             t.DeleteIndexes();
             _exit(kstest::kDiedStatus);
         },
         "1234", rebuilt},
        {"a record added with the indexes loaded, outside any change",
         [&](CBFFile& t) {
             t.LoadIndexes();
             std::unique_ptr<KsFileRecord> record = t.GetNewRecord();
             record->PutField(0, "9", KsFileRecord::kPlain);
             t.FileMaintenanceAdd(t.DataAppend(*record), *record);
             t.Flush();
             _exit(kstest::kDiedStatus);
         },
         "12349", rebuilt},
        {"a new structure file half written",
         [&](CBFFile& t) {
             KsReplacementFile fresh(KsIOFactory::Default(),
                                     (table.substr(0, table.size() - 4) + ".kss").c_str(),
                                     KsFile::kStructureTag);
             kstest::WriteWholeFile(fresh.GetName(), "[FileInfo]\r\n");
             (void)t;
             _exit(kstest::kDiedStatus);
         },
         "1234",
         "\"" + dir.File("survey.kss.kssXXXXXX") +
             "\", left by a change that was cut short, was removed|"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MakeTable();
        EXPECT_EQ(kstest::RunInChild([&] {
                      std::unique_ptr<CBFFile> t = Open();
                      c.dieIn(*t);
                      return 0;
                  }),
                  kstest::kDiedStatus);
        EXPECT_NE(Files(), tableFiles);  // something was left
        std::unique_ptr<CBFFile> t = Open(IO_READ);
        EXPECT_TRUE(t->GetRepairs().empty());  // a reader repairs nothing
        t = Open();
        std::string repairs;
        for (const KsString& repair : t->GetRepairs()) {
            repairs += std::string(repair.GetCString()) + "|";
        }
        EXPECT_EQ(
            std::regex_replace(repairs, std::regex("(kss|QJsrt)[A-Za-z0-9]{6}\""), "$1XXXXXX\""),
            c.repairs);
        EXPECT_EQ(Ids(*t), c.ids);
        EXPECT_TRUE(IndexFilesAgree(*t));
        t->Close();
        std::filesystem::remove_all(dir.File("runs"));
        EXPECT_EQ(Files(), tableFiles);
        EXPECT_TRUE(Open()->GetRepairs().empty());  // repaired once
    }
}

// A marker holds the record count to cut back to and the folder of run files; nested changes
// share it, the innermost count and folder standing while they last; it goes with the last
// change that ends normally, and stays for the repair after one that ends by an exception
// or is abandoned. A change that cannot write its marker leaves the one of the change
// around it as it was.
TEST_F(KsFileRecovery, TheMarkerHoldsTheCountOfTheInnermostChangeAndStaysAfterAFailure) {
    kstest::FaultInjectingFactory factory;
    auto t = std::make_unique<CBFFile>(factory);
    EXPECT_EQ(kstest::MessageOf([&] { t->BeginChange(); }), "A change needs an open table");
    t->Open(Name().c_str(), IO_READ | IO_WRITE);
    auto markerBytes = [&] {
        std::vector<std::string> markers = KsTableLeftovers::Scan(Name().c_str()).markers;
        return markers.size() == 1 ? kstest::Hex(ReadWholeFile(markers[0])) : "none";
    };
    {
        KsFile::ChangeScope outer = t->BeginChange();
        EXPECT_EQ(markerBytes(), "4B734368616E6765FFFFFFFF");  // "KsChange", -1
        for (const char* folder : {"", "/r"}) {
            {
                KsFile::ChangeScope inner = t->BeginChange(0, *folder ? folder : nullptr);
                EXPECT_EQ(markerBytes(), "4B734368616E676500000000" + kstest::Hex(folder));
            }
            EXPECT_EQ(markerBytes(), "4B734368616E6765FFFFFFFF");
        }
        for (auto op :
             {kstest::FaultOp::kWrite, kstest::FaultOp::kWriteTo, kstest::FaultOp::kFlush}) {
            factory.Plan().Fail(op, factory.Plan().Calls(op) + 1, EIO);
        }
        EXPECT_THROW(t->BeginChange(5), KsException);
        factory.Plan().Reset();
        EXPECT_EQ(markerBytes(), "4B734368616E6765FFFFFFFF");
        const std::string longest(KsTableLeftovers::kMarkerFolderLimit, 'f');
        EXPECT_NO_THROW(t->BeginChange(-1, longest.c_str()));
        EXPECT_EQ(kstest::MessageOf([&] { t->BeginChange(-1, (longest + "f").c_str()); }),
                  "The folder \"" + longest + "f\" has too long a name");
    }
    EXPECT_EQ(markerBytes(), "none");
    EXPECT_THROW(
        {
            KsFile::ChangeScope change = t->BeginChange(2);
            throw std::runtime_error("failed");
        },
        std::runtime_error);
    EXPECT_EQ(markerBytes(), "4B734368616E676502000000");
    t->Close();
    t = Open();
    EXPECT_EQ(Ids(*t), "12");
    EXPECT_EQ(markerBytes(), "none");
    KsFile::ChangeScope abandoned = t->BeginChange(1);
    abandoned.Abandon();
    t->Close();
    EXPECT_EQ(Ids(*Open()), "1");
}

// The marker and the new files of a writer that lives are its own: an open for writing
// meanwhile repairs nothing and removes nothing; once the writer is gone, the next does.
TEST_F(KsFileRecovery, ALiveWritersMarkerAndNewFilesAreLeftAlone) {
    std::string fresh;
    {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        kstest::HoldingChild writer([&] {
            static std::unique_ptr<CBFFile> t = Open();
            static KsFile::ChangeScope change = t->BeginChange(1);
            static KsReplacementFile index(KsIOFactory::Default(), dir.File("survey.000").c_str(),
                                           KsFile::kIndexTag);
            (void)!write(ready[1], index.GetName(), std::strlen(index.GetName()));
            close(ready[1]);
        });
        ASSERT_TRUE(writer.Ready());
        char name[512] = {};
        close(ready[1]);
        ASSERT_GT(read(ready[0], name, sizeof name - 1), 0);
        close(ready[0]);
        fresh = name;
        std::unique_ptr<CBFFile> t = Open();
        EXPECT_TRUE(t->GetRepairs().empty());
        EXPECT_EQ(Ids(*t), "1234");
        t->Close();
        EXPECT_TRUE(std::filesystem::exists(fresh));
    }
    std::unique_ptr<CBFFile> t = Open();
    EXPECT_EQ(Ids(*t), "1");
    EXPECT_FALSE(std::filesystem::exists(fresh));
    t->Close();
    EXPECT_EQ(Files(), tableFiles);
}

// Without the transaction layer, a table whose commit was cut short cannot be rolled back:
// an open for writing is refused, naming the inverse file and what to do, and writes
// nothing; a reader may open it, and so may a writer while the log that owns the file lives.
TEST_F(KsFileRecovery, AnOpenForWritingWithoutTransactionsRefusesACommitCutShort) {
    const std::string inverse = dir.File("BC_survey_20261208101010123.kbc");
    kstest::WriteWholeFile(inverse, "Inverses........");
    const std::string data = ReadWholeFile(Name());
    const std::string header = ReadWholeFile(dir.File("survey.kss"));
    EXPECT_EQ(kstest::MessageOf([&] { Open(); }),
              "\"" + Name() + "\" cannot be opened for writing: \"" + inverse +
                  "\" holds what undoes a commit to it that was cut short. Open the table in a "
                  "program that installs transactions, or run \"kstable check\" on it, to roll "
                  "that commit back.");
    EXPECT_EQ(ReadWholeFile(Name()), data);
    EXPECT_EQ(ReadWholeFile(dir.File("survey.kss")), header);
    EXPECT_EQ(Ids(*Open(IO_READ)), "1234");
    kstest::HoldingChild log([&] {
        static KsIO file(inverse.c_str(), IO_READ | IO_WRITE);
        file.Lock(LOCK_WRITE, 0, 0);
    });
    ASSERT_TRUE(log.Ready());
    EXPECT_EQ(Ids(*Open()), "1234");
}

}  // namespace
