// The table's side of its indexes: file names, building, loading, saving, stale and damaged
// files, sorting, and the record-change hooks under thousands of random changes.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "files/KsBlobFile.h"
#include "files/TableTestSupport.h"
#include "index/KsBlobIndex.h"
#include "index/KsIndex.h"
#include "index/KsRecordKey.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/RecordingProgress.h"
#include "support/TempDir.h"

namespace {

using Records = std::vector<std::int32_t>;
constexpr std::uint16_t kName = 0, kScore = 1, kLevel = 2;

// A table of an indexed Alpha, Number and Unsigned Short field, and an unindexed Long.
std::unique_ptr<CBFFile> IndexedTable(const std::string& name) {
    KsFieldList fields =
        kstest::CBFFields({{"Name", 'A', 4}, {"Score", 'N'}, {"Level", 'U'}, {"Plain", 'I'}});
    for (std::int32_t i = 0; i < 3; ++i) {
        fields[i]->SetIndexCount(1);
    }
    CBFFile::PackFields(nullptr, fields);
    return kstest::CreateTable(name, std::move(fields));
}

class KsIndexTable : public testing::Test {
protected:
    kstest::TempDir dir;
    std::unique_ptr<CBFFile> table = IndexedTable(dir.File("t"));
};

struct Row {
    std::string name, score = "0", level = "0";
};

std::unique_ptr<KsFileRecord> RecordOf(KsFile& table, const Row& row) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    record->PutField(kName, row.name.c_str(), KsFileRecord::kPlain);
    record->PutField(kScore, row.score.c_str(), KsFileRecord::kPlain);
    record->PutField(kLevel, row.level.c_str(), KsFileRecord::kPlain);
    return record;
}

// The comparable key of the field in a record of the row's values.
std::string KeyOf(KsFile& table, std::uint16_t field, const Row& row) {
    return KsRecordKey::ComparableKeyOf(*RecordOf(table, row), field);
}

// The records whose key lies from low to high, or is low when there is no high.
Records Search(KsFile& table, std::uint16_t field, const std::string& low,
               const std::string* high = nullptr) {
    KsSet result;
    table.GetIndex(field)->Search(low.data(), high != nullptr ? high->data() : nullptr, result);
    return kstest::Members(result);
}

// The comparable keys of the field in every record, read one by one.
std::vector<std::string> ScanKeys(KsFile& table, std::uint16_t field) {
    std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
    std::vector<std::string> keys;
    for (std::int32_t r = 1; r <= table.GetNumRecords(); ++r) {
        table.GotoRecord(r, record.get());
        keys.push_back(KsRecordKey::ComparableKeyOf(*record, field));
    }
    return keys;
}

// The records whose key lies from low to high.
Records Within(const std::vector<std::string>& keys, const std::string& low,
               const std::string& high) {
    Records records;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] >= low && keys[i] <= high) {
            records.push_back(static_cast<std::int32_t>(i + 1));
        }
    }
    return records;
}

TEST_F(KsIndexTable, IndexFilesAreNamedByFieldNumberAndEmptyOnesSkipMappedAndUnindexedFields) {
    EXPECT_EQ(dir.File("t.012"),
              table->GetIndexFileName(12, dir.File("t.cbf").c_str()).GetCString());
    table->GetField(kLevel).SetMappedFieldName("Name");
    table->BuildEmptyIndexes();
    for (const char* name : {"t.000", "t.001", "t.002", "t.003"}) {
        EXPECT_EQ(name[4] < '2', std::filesystem::exists(dir.File(name))) << name;
    }
    // A mapped field uses the index of its target; none can be added to it.
    EXPECT_EQ(table->GetIndex(kLevel), table->GetIndex(kName));
    EXPECT_EQ("Index already exists", kstest::MessageOf([&] { table->AddIndex(kName); }));
    table->RemoveIndex(kName);
    EXPECT_EQ("Cannot create an index on a mapped field",
              kstest::MessageOf([&] { table->AddIndex(kLevel); }));
    EXPECT_EQ("Index for field 3 of file \"" + dir.File("t.cbf") + "\" does not exist",
              kstest::MessageOf([&] { table->GetIndex(3); }));
}

TEST_F(KsIndexTable, StaleOrDamagedIndexFilesAreBuiltAgainAndSavesAreWholeOrNothing) {
    for (const char* name : {"ab", "cd", "ab"}) {
        table->DataAppend(*RecordOf(*table, {name, "1", "2"}));
    }
    table->GetIndex(kName);
    table->ClearIndexes(false);
    std::string saved = kstest::ReadWholeFile(dir.File("t.000"));
    // Another record count, cut short: never trusted.
    table->DataAppend(*RecordOf(*table, {"ab", "1", "2"}));
    EXPECT_EQ((Records{1, 3, 4}), Search(*table, kName, KeyOf(*table, kName, {"ab"})));
    table->ClearIndexes(false);
    kstest::WriteWholeFile(dir.File("t.000"), saved.substr(0, saved.size() - 3));
    EXPECT_EQ((Records{1, 3, 4}), Search(*table, kName, KeyOf(*table, kName, {"ab"})));
    table->Close();
    std::string good = kstest::ReadWholeFile(dir.File("t.000"));
    // Every failing write, flush or rename while saving leaves the old file whole.
    for (kstest::FaultOp op : {kstest::FaultOp::kWrite, kstest::FaultOp::kFlush,
                               kstest::FaultOp::kClose, kstest::FaultOp::kRename}) {
        // A write of the whole small file happens when it is flushed: torn there.
        kstest::FaultInjectingFactory factory;
        CBFFile faulty(factory);
        faulty.Open(dir.File("t").c_str(), IO_READ | IO_WRITE);
        faulty.GetIndex(kName, true);
        if (op == kstest::FaultOp::kWrite) {
            factory.Plan().FailShort(kstest::FaultOp::kFlush, 1, 10);
        } else {
            factory.Plan().Fail(op, 1, ENOSPC, true);
        }
        EXPECT_THROW(faulty.SaveIndex(kName), KsException) << static_cast<int>(op);
        EXPECT_EQ(good, kstest::ReadWholeFile(dir.File("t.000")));
        factory.Plan().Reset();
    }
    // t.cbf, t.kss, t.000 and nothing left half-written.
    EXPECT_EQ(3, std::distance(std::filesystem::directory_iterator(dir.Path()), {}));
}

// Index files are mapped when the table's files are plain system files, and read whole
// through any other factory (the fault-injecting one here), answering the same. A mapped
// file whose keys are out of order is found out at the first change, dropped with its file
// and built again from the records.
TEST_F(KsIndexTable, MappedIndexFilesAreCheckedWholeBeforeAChangeAndRebuiltWhenDamaged) {
    for (const char* name : {"ab", "cd", "ab"}) {
        table->DataAppend(*RecordOf(*table, {name, "1", "2"}));
    }
    table->LoadIndexes();
    table->Close();
    {
        kstest::FaultInjectingFactory factory;
        CBFFile faulty(factory);
        faulty.Open(dir.File("t").c_str(), IO_READ);
        EXPECT_FALSE(faulty.GetIndex(kName)->IsMapped());
        EXPECT_EQ((Records{1, 3}), Search(faulty, kName, KeyOf(faulty, kName, {"ab"})));
    }
    table->Open(dir.File("t").c_str(), IO_READ | IO_WRITE);
    EXPECT_TRUE(table->GetIndex(kName)->IsMapped());
    EXPECT_EQ((Records{1, 3}), Search(*table, kName, KeyOf(*table, kName, {"ab"})));
    table->ClearIndexes(false);
    std::string bytes = kstest::ReadWholeFile(dir.File("t.000"));
    // "ab" becomes "zz", which orders after the next key, "cd".
    kstest::WriteWholeFile(dir.File("t.000"),
                           bytes.replace(bytes.find(std::string("ab\0", 3)), 2, "zz"));
    EXPECT_TRUE(table->GetIndex(kName)->IsMapped());
    std::unique_ptr<KsFileRecord> record = RecordOf(*table, {"cd"});
    table->IndexRecordAdded(table->DataAppend(*record), *record);
    EXPECT_FALSE(table->IndexFileExists(kName));
    EXPECT_EQ((Records{2, 4}), Search(*table, kName, KeyOf(*table, kName, {"cd"})));
    EXPECT_EQ((Records{1, 3}), Search(*table, kName, KeyOf(*table, kName, {"ab"})));
    table->Close();  // the rebuilt index is written
    table->Open(dir.File("t").c_str(), IO_READ);
    EXPECT_TRUE(table->GetIndex(kName)->IsMapped());
    EXPECT_EQ((Records{2, 4}), Search(*table, kName, KeyOf(*table, kName, {"cd"})));
}

TEST_F(KsIndexTable, VerifyIndexExistsRebuildsEveryIndexAndDeletesStrayFiles) {
    table->DataAppend(*RecordOf(*table, {"x", "1", "2"}));
    kstest::WriteWholeFile(dir.File("t.003"), "stray");
    kstest::WriteWholeFile(dir.File("t.001"), "old");
    kstest::RecordingProgress progress;
    table->VerifyIndexExists(true, &progress);
    for (const char* name : {"t.000", "t.001", "t.002", "t.003"}) {
        EXPECT_EQ(name[4] != '3', std::filesystem::exists(dir.File(name))) << name;
    }
    EXPECT_NE(std::find(progress.calls.begin(), progress.calls.end(), "SetTitle(3 out of 3)"),
              progress.calls.end());
    table->ClearIndexes(false);
    EXPECT_EQ((Records{1}), Search(*table, kScore, KeyOf(*table, kScore, {"", "1"})));
    table->GetField(kName).SetMappedFieldName("Nowhere");
    EXPECT_EQ("Field \"Name\" is mapped to a non-existent field.",
              kstest::MessageOf([&] { table->VerifyIndexExists(false); }));
}

// A built index answers and writes from its sorted runs until its keys become objects; both
// must agree with a scan of the records, and with each other byte for byte. Straight builds
// (one block) give the same index; their progress asks every 128 records, not every 2048.
TEST_F(KsIndexTable, BuiltIndexesSearchAndWriteAsTheirKeyObjectsDo) {
    // The second block brings values between, equal to and beyond those of the first; the
    // scores are few enough for sets, the others stay vectors.
    for (std::int32_t r = 1; r <= KsIndex::kBlockRecords + 500; ++r) {
        std::int32_t spread = r > KsIndex::kBlockRecords ? 2003 : 1009;
        table->DataAppend(*RecordOf(*table, {std::to_string(r * 31 % spread), std::to_string(r % 5),
                                             std::to_string(r % 1000)}));
    }
    KsIndex::SetMergeBytes(1);  // a merge of the keys after every block
    for (std::uint16_t field : {kName, kScore, kLevel}) {
        kstest::RecordingProgress iterative, straight;
        KsIndex runs(*table, field, &iterative);
        KsIndex objects(*table, field, nullptr);
        (void)objects.GetKey(0);
        kstest::MemoryStream fromRuns, fromObjects;
        runs.Write(fromRuns);
        objects.Write(fromObjects);
        EXPECT_EQ(fromObjects.Bytes(), fromRuns.Bytes()) << field;
        kstest::MemoryStream written(fromRuns.Bytes());
        KsIndex reread(runs.GetFieldType(), runs.GetKeyLength(), runs.GetRecordCount());
        reread.Read(written);  // keys strictly ascending, every record in one key
        std::vector<std::string> keys = ScanKeys(*table, field);
        std::vector<std::string> sorted = keys;
        std::sort(sorted.begin(), sorted.end());
        const std::string below(keys[0].size(), '\0'), above(keys[0].size(), '\xff');
        const std::string &first = sorted.front(), &last = sorted.back();
        const std::string &third = sorted[keys.size() / 3], &half = sorted[keys.size() / 2];
        KsSet odd(table->GetNumRecords());
        for (std::int32_t r = 1; r <= table->GetNumRecords(); r += 2) {
            odd.SelectRecord(r, true);
        }
        const std::pair<std::string, std::string> ranges[] = {
            {first, first}, {last, last},  {half, half},  {below, below}, {above, above},
            {below, first}, {last, above}, {third, half}, {below, above}};
        for (const auto& [low, high] : ranges) {
            for (const KsSet* mask : std::vector<const KsSet*>{nullptr, &odd}) {
                KsSet found;
                const char* upper = low == high ? nullptr : high.data();
                mask ? runs.MaskedSearch(low.data(), upper, found, *mask)
                     : runs.Search(low.data(), upper, found);
                Records expected = Within(keys, low, high);
                std::erase_if(expected,
                              [&](std::int32_t r) { return mask && !mask->IsSelected(r); });
                EXPECT_EQ(expected, kstest::Members(found))
                    << field << " from " << low << (mask ? " masked" : "");
            }
        }
        EXPECT_TRUE(runs.IsSameAs(objects));
        KsIndex::SetStraightBuildLimit(0);  // no limit
        EXPECT_TRUE(KsIndex(*table, field, &straight).IsSameAs(objects));
        KsIndex::SetStraightBuildLimit(KsIndex::kBlockRecords);
        EXPECT_EQ(259, straight.questions);  // 33268 records: every 128
        EXPECT_EQ(16, iterative.questions);  // every 2048
    }
    KsIndex::SetMergeBytes(16 << 20);
    KsIndex::SetStraightBuildLimit(table->GetNumRecords());  // built straight up to the limit
    kstest::RecordingProgress exact;
    KsIndex built(*table, kLevel, &exact);
    EXPECT_EQ(259, exact.questions);
    exact.stopAtQuestion = 3;
    exact.questions = 0;
    KsException stop =
        kstest::CaughtError<KsIndexBuildCanceled>([&] { KsIndex(*table, 0, &exact); });
    KsIndex::SetStraightBuildLimit(KsIndex::kBlockRecords);
    EXPECT_EQ("Build of index on field \"Name\" of file \"" + dir.File("t.cbf") +
                  "\" was halted by user.",
              std::string(stop.GetErrorMessage()));
}

// (Compressed binary tables hold no Blob fields, so the blob index is tried on its own.)
TEST(KsBlobIndex, FindsRecordsWhoseBlobsHoldEveryPieceOfTheText) {
    kstest::TempDir dir;
    KsBlobFile blobs(dir.File("b.ksb").c_str(), IO_READ | IO_WRITE | IO_CREATE);
    std::int32_t red = blobs.AddBlob("red fox", 7);
    std::int32_t blue = blobs.AddBlob("Blue Foxes", 10);
    KsBlobIndex index(blobs, 300);
    for (std::int32_t r = 1; r <= 300; ++r) {
        index.InsertRecord(r, r % 3 == 0 ? -1 : r % 2 == 0 ? red : blue);
    }
    KsSet found;
    index.Search("fox", nullptr, found);
    EXPECT_EQ(200, found.GetSelectedCount());
    index.Search("uE fOx", nullptr, found);
    EXPECT_EQ(100, found.GetSelectedCount());
    EXPECT_TRUE(found.IsSelected(1));
    index.Search("qqq", nullptr, found);  // no such piece: the result stays whole
    EXPECT_EQ(300, found.GetSelectedCount());
    EXPECT_EQ("Blob fields may only be searched for equivalence",
              kstest::MessageOf([&] { index.Search("a", "b", found); }));
}

// Thousands of random appends, inserts, modifies, deletes and sorts, each followed by the
// hooks, checked against a scan of the records; indexes saved and read back at random.
TEST_F(KsIndexTable, IndexesFollowRandomRecordChanges) {
    std::mt19937 random(4);
    auto pick = [&](unsigned n) { return static_cast<std::int32_t>(random() % n); };
    auto row = [&] {
        const char* names[] = {"ab", "AB", "b", "ca", "", "zz"};
        return Row{names[pick(6)], std::to_string(pick(9) - 4) + ".5", std::to_string(pick(30))};
    };
    for (int step = 0; step < 2500; ++step) {
        std::int32_t count = table->GetNumRecords();
        std::int32_t n = count > 0 ? pick(count) + 1 : 0;
        int op = count < 5 ? 0 : pick(10);
        std::unique_ptr<KsFileRecord> record = RecordOf(*table, row());
        if (op <= 4) {
            n = op <= 2 ? table->DataAppend(*record) : table->DataInsert(n, *record);
            table->IndexRecordAdded(n, *record);
        } else if (op <= 6) {
            table->DataModify(n, *record);
            table->IndexRecordModified(n, *record);
        } else if (op <= 8) {
            table->DataDelete(n);
            table->IndexRecordDeleted(n);
        } else if (pick(25) == 0) {
            KsVector<std::uint16_t> by;
            by.push_back(static_cast<std::uint16_t>(pick(3)));
            table->Sort(by, nullptr, pick(2) == 0);
        }
        if (pick(50) == 0) {
            table->ClearIndexes(false);  // read back from their files by the next change
        }
        for (std::uint16_t field : {kName, kScore, kLevel}) {
            std::string low = KeyOf(*table, field, row()), high = KeyOf(*table, field, row());
            if (high < low) {
                std::swap(low, high);
            }
            std::vector<std::string> keys = ScanKeys(*table, field);
            ASSERT_EQ(Within(keys, low, high), Search(*table, field, low, &high))
                << "step " << step << " field " << field;
            ASSERT_EQ(Within(keys, low, low), Search(*table, field, low));
        }
    }
}

// An index file that is not loaded still follows a change: it is read and updated first.
TEST_F(KsIndexTable,
       ChangesUpdateIndexFilesThatAreNotLoadedKeepNoneWhileChangedAndIndexingOffDeletesThem) {
    table->DataAppend(*RecordOf(*table, {"a", "1", "1"}));
    table->LoadIndexes();
    table->Close();
    table->Open(dir.File("t").c_str(), IO_READ | IO_WRITE);
    std::unique_ptr<KsFileRecord> record = RecordOf(*table, {"b", "2", "2"});
    table->DataInsert(1, *record);
    table->IndexRecordAdded(1, *record);
    // A changed index has no file until the table closes: a crash leaves none to trust.
    EXPECT_FALSE(table->IndexFileExists(kScore));
    table->Close();
    table->Open(dir.File("t").c_str(), IO_READ | IO_WRITE);
    EXPECT_TRUE(table->IndexFileExists(kScore));
    EXPECT_EQ((Records{1}), Search(*table, kName, KeyOf(*table, kName, {"b"})));
    EXPECT_EQ((Records{2}), Search(*table, kLevel, KeyOf(*table, kLevel, {"", "", "1"})));
    table->SetIndexingState(false);
    table->DataDelete(1);
    table->IndexRecordDeleted(1);
    EXPECT_FALSE(table->IndexFileExists(kName));
    table->SetIndexingState(true);
    EXPECT_EQ((Records{1}), Search(*table, kName, KeyOf(*table, kName, {"a"})));
}

// Key look-ups answer from the indexes when every key field has one, and agree with a scan.
TEST_F(KsIndexTable, PrimaryKeysAreFoundThroughTheIndexesAsByAScan) {
    for (const Row& row : {Row{"a", "1", "1"}, Row{"b", "2", "2"}, Row{"c", "2", "3"}}) {
        table->FileMaintenanceAdd(table->DataAppend(*RecordOf(*table, row)),
                                  *RecordOf(*table, row));
    }
    table->SetPrimaryKeyFieldCount(2);
    auto changed = RecordOf(*table, {"z", "2", "2"});
    auto old = table->GetNewRecord();
    table->DataModify(2, *changed, old.get());
    table->FileMaintenanceModify(2, *old, *changed);
    for (bool indexing : {true, false}) {
        table->SetIndexingState(indexing);
        EXPECT_EQ(3, table->GetRecordNumberByKey(*RecordOf(*table, {"c", "2"})));
        EXPECT_EQ(2, table->GetRecordNumberByKey(*RecordOf(*table, {"z", "2"})));
        EXPECT_EQ(0, table->GetRecordNumberByKey(*RecordOf(*table, {"b", "2"})));
        EXPECT_EQ(0, table->GetRecordNumberByKey(*RecordOf(*table, {"c", "1"})));
        EXPECT_EQ("Attempting to add new record, but the primary keys match those of record 1",
                  kstest::MessageOf([&] {
                      table->DataAdd(*RecordOf(*table, {"a", "1", "7"}));
                  }));
        EXPECT_EQ(3, table->GetNumRecords());
    }
}

}  // namespace
