#include "files/CBFFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "TableTestSupport.h"
#include "support/ChildProcess.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"

namespace {

using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

constexpr const char* kGoldenHeader =
    "[FileInfo]\r\nFileName=sample.cbf\r\nTitle=Sample\r\nInputLayoutNumber=0\r\n"
    "PrimaryKeyFields=0\r\nCategory1=Prices\r\nUserFlagCount=0\r\nNumberOfFields=8\r\n"
    "RecordLength=23\r\n\r\n"
    "[Field1]\r\nFieldName=Id\r\nType=3\r\nLength=4\r\nByteOffset=0\r\nStartingBit=0\r\n"
    "NumberOfBits=32\r\nDivisor=1\r\n\r\n"
    "[Field2]\r\nFieldName=Price\r\nType=3\r\nLength=4\r\nByteOffset=4\r\nPrecision=2\r\n"
    "StartingBit=0\r\nNumberOfBits=32\r\nDivisor=100\r\n\r\n"
    "[Field3]\r\nFieldName=Code\r\nType=A\r\nLength=5\r\nByteOffset=16\r\nStartingBit=0\r\n"
    "NumberOfBits=40\r\nDivisor=1\r\n\r\n"
    "[Field4]\r\nFieldName=Flag\r\nType=2\r\nLength=2\r\nByteOffset=10\r\nStartingBit=12\r\n"
    "NumberOfBits=3\r\nDivisor=0\r\n\r\n"
    "[Field5]\r\nFieldName=Level\r\nType=0\r\nLength=2\r\nByteOffset=10\r\nStartingBit=1\r\n"
    "NumberOfBits=11\r\nDivisor=0\r\n\r\n"
    "[Field6]\r\nFieldName=Tag\r\nType=Y\r\nLength=2\r\nByteOffset=21\r\nStartingBit=0\r\n"
    "NumberOfBits=16\r\nDivisor=0\r\n\r\n"
    "[Field7]\r\nFieldName=Count\r\nType=W\r\nLength=4\r\nByteOffset=12\r\nStartingBit=0\r\n"
    "NumberOfBits=32\r\nDivisor=0\r\n\r\n"
    "[Field8]\r\nFieldName=Small\r\nType=2\r\nLength=2\r\nByteOffset=8\r\nStartingBit=1\r\n"
    "NumberOfBits=16\r\nDivisor=1\r\n\r\n";

// Id, Price, Small, Level and Flag in one word, Count, Code, Tag.
constexpr const char* kGoldenData =
    "00000001000004D2FFFF7D14EE6B28004142000000BEEF "
    "80000002800000320000FFE00000000048454C4C4F0001 "
    "7FFFFFFF0000001D0102001C0000000100000000000000";

const std::vector<std::vector<const char*>> kGoldenTexts = {
    {"1", "12.34", "AB", "5", "1000", "BEEF", "4000000000", "65535"},
    {"-2", "-0.5", "HELLO", "0", "2047", "0001", "0", "0"},
    {"2147483647", "0.29", "", "7", "0", "", "1", "258"}};

// The sample table with its three records, closed.
std::string MakeGoldenTable(const kstest::TempDir& dir) {
    std::string name = dir.File("sample");
    CBFFile table;
    table.SetTitle("Sample");
    table.AddCategory("Prices");
    KsFieldList fields = kstest::SampleFields();
    table.Create(name.c_str(), fields, 0, false);
    table.Open(name.c_str(), IO_READ | IO_WRITE);
    for (const auto& texts : kGoldenTexts) {
        kstest::AppendTexts(table, texts);
    }
    table.Close();
    return name;
}

TEST(CBFFile, SampleTableIsWrittenByteForByteAndReadsBack) {
    kstest::TempDir dir;
    std::string name = MakeGoldenTable(dir);
    EXPECT_EQ(kGoldenData, kstest::Hex(ReadWholeFile(name + ".cbf"), 23));
    EXPECT_EQ(kGoldenHeader, ReadWholeFile(name + ".kss"));

    CBFFile table;
    table.Open(name.c_str(), IO_READ);
    EXPECT_EQ(3, table.GetNumRecords());
    EXPECT_EQ(23, table.GetRecordLength());
    EXPECT_STREQ("Sample", table.GetTitle());
    const char* types = "NNAUSYWU";  // the Long became a Number; the header keeps every type
    for (std::int32_t n = 0; n < 8; ++n) {
        EXPECT_EQ(types[n], table.GetField(n).GetType()) << n;
    }
    EXPECT_EQ(1, table.GetCurrentRecordNumber());  // the first record is read at open
    EXPECT_EQ("1|12.34|AB|5|1000|BEEF|4000000000|65535", kstest::TextsOf(table, 1));
    EXPECT_EQ("-2|-0.50|HELLO|0|2047|0001|0|0", kstest::TextsOf(table, 2));
    EXPECT_EQ("2147483647|0.29||7|0|0000|1|258", kstest::TextsOf(table, 3));

    // The format's own title key and a user bit field are read, and written back.
    std::string header = kGoldenHeader;
    header.replace(header.find("RecordLength=23\r\n"), 17,
                   "RecordLength=23\r\nFileTitle=Other\r\nNumberOfUserBitFields=1\r\n");
    WriteWholeFile(name + ".kss",
                   header + "[UserBitField0]\r\nNumberOfBits=2\r\nStartingBit=95\r\n");
    table.Open(name.c_str(), IO_READ | IO_WRITE);
    EXPECT_STREQ("Other", table.GetTitle());
    KsVector<CBFBits> bits;
    table.GetUserBitFields(bits);
    ASSERT_EQ(1u, bits.size());
    EXPECT_EQ(94u, bits[0].GetBitOffset());
    table.WriteStructure();
    std::string written = ReadWholeFile(name + ".kss");
    for (const char* keys : {"Title=Other\r\n", "RecordLength=23\r\nNumberOfUserBitFields=1\r\n",
                             "[UserBitField0]\r\nNumberOfBits=2\r\nStartingBit=95\r\n"}) {
        EXPECT_NE(std::string::npos, written.find(keys)) << keys;
    }
}

TEST(CBFFile, DataFileWithAPartialRecordCountsWholeRecordsAndAppendsOverTheRest) {
    kstest::TempDir dir;
    std::string name = MakeGoldenTable(dir);
    WriteWholeFile(name + ".cbf", ReadWholeFile(name + ".cbf") + "12345");
    auto table = std::make_unique<CBFFile>();
    table->Open(name.c_str(), IO_READ | IO_WRITE);
    EXPECT_EQ(3, table->GetNumRecords());
    EXPECT_EQ(5, table->GetExtraBytes());
    table->DataDelete(3);  // a delete drops them with the last record's old place
    EXPECT_EQ(2 * 23u, ReadWholeFile(name + ".cbf").size());
    WriteWholeFile(name + ".cbf", ReadWholeFile(name + ".cbf") + "12345");
    table->Open(name.c_str(), IO_READ | IO_WRITE);
    kstest::AppendTexts(*table, kGoldenTexts[0]);
    EXPECT_EQ(0, table->GetExtraBytes());
    table->Close();
    EXPECT_EQ(3 * 23u, ReadWholeFile(name + ".cbf").size());
}

TEST(CBFFile, CreateChecksBothNamesBeforeWritingAnything) {
    kstest::TempDir dir;
    std::string name = dir.File("t");
    KsFieldList fields = kstest::SampleFields();
    CBFFile table;
    WriteWholeFile(name + ".cbf", "x");
    EXPECT_EQ("Data file \"" + name + ".cbf\" already exists",
              MessageOf([&] { table.Create(name.c_str(), fields, 0, false); }));
    EXPECT_FALSE(std::filesystem::exists(name + ".kss"));  // nothing blocks the next try
    std::filesystem::remove(name + ".cbf");
    table.Create(name.c_str(), fields, 0, false);
    auto error = kstest::CaughtError<KsFileException>(
        [&] { table.Create((name + ".cbf").c_str(), fields, 0, false); });
    EXPECT_EQ("Header file \"" + name + ".kss\" already exists",
              std::string(error.GetErrorMessage()));
    EXPECT_EQ(name + ".kss", error.GetFileName());

    // A create that fails while writing leaves no header either.
    kstest::FaultInjectingFactory failing;
    failing.Plan().Fail(kstest::FaultOp::kWrite, 1, ENOSPC, true);
    failing.Plan().Fail(kstest::FaultOp::kFlush, 1, ENOSPC, true);
    CBFFile other(failing);
    EXPECT_THROW(other.Create(dir.File("u").c_str(), fields, 0, false), KsException);
    EXPECT_FALSE(std::filesystem::exists(dir.File("u.kss")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("u.cbf")));
}

// Headers are untrusted: each corruption gives a clear error, never a crash.
TEST(CBFFile, HostileHeadersAreRefusedWithTheirReason) {
    kstest::TempDir dir;
    std::string name = MakeGoldenTable(dir);
    std::string header = "Header \"" + name + ".kss\": ";
    struct Case {
        const char* from;
        const char* to;
        std::string message;
    } cases[] = {
        {"RecordLength=23\r\n", "",
         header + "RecordLength \"\" is not a record length of 1 to 32767 bytes"},
        {"RecordLength=23", "RecordLength=0",
         header + "RecordLength \"0\" is not a record length of 1 to 32767 bytes"},
        {"RecordLength=23", "RecordLength=22",
         header + "[Field6] ByteOffset 21 and Length 2 put \"Tag\" outside the record of 22 bytes "
                  "(bytes 21 to 22)"},
        {"NumberOfFields=8", "NumberOfFields=9",
         header + "NumberOfFields is 9, but 8 field sections were found"},
        {"StartingBit=12", "StartingBit=15",
         header + "[Field4] StartingBit 15 and NumberOfBits 3 put \"Flag\" past the end of its "
                  "word (bits 15 to 17 of 16)"},
        {"ByteOffset=21", "ByteOffset=70000",
         "Section \"Field6\": ByteOffset=70000 is out of range [0, 65535]"},
        {"RecordLength=23", "RecordLength=23\r\nNumberOfUserBitFields=1",
         header + "section UserBitField0 is missing"},
        {"RecordLength=23",
         "RecordLength=23\r\nNumberOfUserBitFields=1\r\n[UserBitField0]\r\nNumberOfBits=3\r\n"
         "StartingBit=183",
         header + "UserBitField0 does not lie inside the record"},
        {"RecordLength=23",
         "RecordLength=23\r\nNumberOfUserBitFields=1\r\n[UserBitField0]\r\nNumberOfBits=3\r\n"
         "StartingBit=15",
         "Bit string of length 3 at offset 14 would cross a 16-bit boundary"},
        {"NumberOfFields=8", "NumberOfFields=9\r\n[Field9]\r\nFieldName=Alias\r\nMappedTo=Nope",
         "Field 9 is mapped to \"Nope\", which no field section names"},
        {"NumberOfFields=8", "NumberOfFields=9\r\n[Field9]\r\nFieldName=Alias\r\nMappedTo=Alias",
         "Field 9 is mapped to \"Alias\", which is a mapped field"},
        {"UserFlagCount=0", "UserFlagCount=1\r\nUserFlag1=a;b;1", "Bad UserFlag string \"a;b;1\""},
    };
    std::string golden = ReadWholeFile(name + ".kss");
    for (const Case& c : cases) {
        std::string text = golden;
        text.replace(text.find(c.from), std::strlen(c.from), c.to);
        WriteWholeFile(name + ".kss", text);
        CBFFile table;
        EXPECT_EQ(c.message, MessageOf([&] { table.Open(name.c_str(), IO_READ); })) << c.to;
        EXPECT_EQ(0, table.GetFieldCount());  // a failed open leaves the table closed
    }
}

// Random appends, inserts, modifies and deletes against a vector of records, with the
// table closed and opened again at random points.
TEST(CBFFile, RandomChangesMatchAModelAcrossReopens) {
    kstest::TempDir dir;
    std::string name = dir.File("model");
    KsFieldList fields = kstest::CBFFields({{"Id", 'N'}, {"Text", 'A', 3}});
    CBFFile::PackFields(nullptr, fields);
    auto table = kstest::CreateTable(name, std::move(fields));
    std::vector<std::string> model;
    std::mt19937 random(20240611);
    auto record = table->GetNewRecord();
    auto expectSame = [&] {
        ASSERT_EQ(static_cast<std::int32_t>(model.size()), table->GetNumRecords());
        for (std::int32_t n = 1; n <= table->GetNumRecords(); ++n) {
            table->GotoRecord(n, record.get());
            ASSERT_EQ(model[static_cast<std::size_t>(n - 1)], kstest::HexOf(*record)) << n;
        }
    };
    for (int step = 0; step < 3000; ++step) {
        record->PutNumber(0, step);
        record->PutAlpha(1, std::to_string(step % 1000).c_str());
        auto count = static_cast<std::int32_t>(model.size());
        std::int32_t n = count > 0 ? std::uniform_int_distribution<>(1, count)(random) : 0;
        int what = count == 0 ? 0 : std::uniform_int_distribution<>(0, 9)(random);
        if (what < 4) {
            EXPECT_EQ(count + 1, table->DataAppend(*record));
            model.push_back(kstest::HexOf(*record));
        } else if (what < 6) {
            EXPECT_EQ(n, table->DataInsert(n, *record));
            model.insert(model.begin() + (n - 1), kstest::HexOf(*record));
            EXPECT_EQ(model[static_cast<std::size_t>(n - 1)],
                      kstest::HexOf(*table->GetCurrentRecord()));
        } else if (what < 8) {
            auto old = table->GetNewRecord();
            table->DataModify(n, *record, old.get());
            EXPECT_EQ(model[static_cast<std::size_t>(n - 1)], kstest::HexOf(*old));
            model[static_cast<std::size_t>(n - 1)] = kstest::HexOf(*record);
        } else {
            auto old = table->GetNewRecord();
            table->DataDelete(n, old.get());
            EXPECT_EQ(model[static_cast<std::size_t>(n - 1)], kstest::HexOf(*old));
            model.erase(model.begin() + (n - 1));
        }
        if (std::uniform_int_distribution<>(0, 99)(random) == 0) {
            table->Close();
            table->Open(name.c_str(), IO_READ | IO_WRITE);
            expectSame();
            record = table->GetNewRecord();
        }
    }
    expectSame();
    table->Empty();
    EXPECT_EQ(0, table->GetNumRecords());
    EXPECT_EQ(0u, ReadWholeFile(name + ".cbf").size());
}

// Every write of an append, an insert and a delete is failed in turn, whole and short:
// the table then holds its old records or its new ones, never a torn record.
TEST(CBFFile, AFailedWriteLeavesTheOldOrTheNewRecords) {
    kstest::TempDir dir;
    std::string pristine = dir.File("pristine");
    std::string name = dir.File("t");
    std::string old;
    {
        KsFieldList fields = kstest::CBFFields({{"Id", 'N'}, {"Text", 'A', 3}});
        CBFFile::PackFields(nullptr, fields);
        auto table = kstest::CreateTable(pristine, std::move(fields));
        auto record = table->GetNewRecord();
        for (int i = 0; i < 110000; ++i) {  // 770 kB: a move takes several blocks
            record->PutNumber(0, i);
            table->DataAppend(*record);
        }
        table->Close();
        old = ReadWholeFile(pristine + ".cbf");
    }
    const std::string added = std::string("\x00\x00\x00\x63", 4) + "new";
    const std::size_t L = 7;
    std::string appended = old;
    for (int i = 0; i < 10000; ++i) {  // more than the buffer holds: appends write on the way
        appended += added;
    }
    struct Operation {
        const char* what;
        std::function<void(CBFFile&, KsFileRecord&)> run;
        std::string expected;
    } operations[] = {
        {"append",
         [](CBFFile& t, KsFileRecord& r) {
             for (int i = 0; i < 10000; ++i) {
                 t.DataAppend(r);
             }
         },
         appended},
        {"insert", [](CBFFile& t, KsFileRecord& r) { t.DataInsert(2, r); },
         old.substr(0, L) + added + old.substr(L)},
        {"delete", [](CBFFile& t, KsFileRecord&) { t.DataDelete(2); },
         old.substr(0, L) + old.substr(2 * L)},
    };
    // Old or new; appends one by one may also stop after any whole record.
    auto acceptable = [&](const Operation& operation, const std::string& bytes) {
        return bytes == old || bytes == operation.expected ||
               (operation.expected == appended && appended.compare(0, bytes.size(), bytes) == 0 &&
                bytes.size() % L == 0);
    };
    auto runWith = [&](const Operation& operation, KsIOFactory& factory) {
        for (const char* extension : {".cbf", ".kss"}) {
            std::filesystem::copy_file(pristine + extension, name + extension,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        CBFFile table(factory);
        table.Open(name.c_str(), IO_READ | IO_WRITE);
        auto record = table.GetNewRecord();
        record->PutNumber(0, 99);
        record->PutAlpha(1, "new");
        operation.run(table, *record);
        table.Close();
    };
    const kstest::FaultOp ops[] = {kstest::FaultOp::kWrite, kstest::FaultOp::kWriteTo,
                                   kstest::FaultOp::kFlush, kstest::FaultOp::kTruncate};
    for (const Operation& operation : operations) {
        kstest::FaultInjectingFactory counting;
        runWith(operation, counting);
        EXPECT_EQ(operation.expected, ReadWholeFile(name + ".cbf")) << operation.what;
        int failures = 0;
        for (kstest::FaultOp op : ops) {
            for (int nth = 1; nth <= counting.Plan().Calls(op); ++nth) {
                for (bool shortWrite : {false, true}) {
                    kstest::FaultInjectingFactory failing;
                    if (shortWrite && op != kstest::FaultOp::kTruncate) {
                        failing.Plan().FailShort(op, nth, 100, EIO);
                    } else {
                        failing.Plan().Fail(op, nth, ENOSPC);
                    }
                    try {  // a short write that covers a whole call is no failure
                        runWith(operation, failing);
                    } catch (const KsException&) {
                        ++failures;
                    }
                    CBFFile reopened;
                    reopened.Open(name.c_str(), IO_READ);
                    std::string bytes = ReadWholeFile(name + ".cbf");
                    bytes.resize(static_cast<std::size_t>(reopened.GetNumRecords()) * L);
                    EXPECT_TRUE(acceptable(operation, bytes))
                        << operation.what << " op " << static_cast<int>(op) << " call " << nth;
                }
            }
        }
        EXPECT_GE(failures, 4) << operation.what;  // the test did fail writes
    }
}

// Two processes on one table: the write lock of one keeps the other out until it is
// released as often as it was taken. (That closing another object on the file keeps the
// locks is the file layer's test.)
TEST(CBFFile, WriteLocksExcludeOtherProcessesAndCountInStep) {
    kstest::TempDir dir;
    std::string name = MakeGoldenTable(dir);
    auto tryInChild = [&](int flags) {
        return kstest::RunInChild([&] {
            CBFFile other;
            other.Open(name.c_str(), IO_READ | IO_WRITE);
            return other.TryLock(flags) ? 1 : 0;
        });
    };
    CBFFile table;
    table.Open(name.c_str(), IO_READ | IO_WRITE);
    table.Lock(LOCK_WRITE);
    table.Lock(LOCK_WRITE);
    EXPECT_EQ(2, table.GetWriteLockCount());
    EXPECT_EQ(0, tryInChild(LOCK_WRITE));
    EXPECT_EQ(0, tryInChild(LOCK_READ));
    EXPECT_FALSE(table.Unlock(LOCK_WRITE));
    EXPECT_EQ(0, tryInChild(LOCK_WRITE));
    table.Empty();  // the data file stays open: the lock stays
    EXPECT_EQ(0, tryInChild(LOCK_WRITE));
    EXPECT_TRUE(table.Unlock(LOCK_WRITE));
    EXPECT_EQ(0, table.GetWriteLockCount());
    EXPECT_EQ(1, tryInChild(LOCK_WRITE));

    // Read locks are shared and counted apart; an unlock without the write bit frees one.
    table.Lock(LOCK_READ);
    EXPECT_EQ(1, tryInChild(LOCK_READ));
    EXPECT_EQ(0, tryInChild(LOCK_WRITE));
    EXPECT_TRUE(table.Unlock(LOCK_READ));
    EXPECT_EQ(0, table.GetReadLockCount());
    EXPECT_TRUE(table.Unlock(LOCK_READ));  // nothing held: released

    kstest::HoldingChild holder([&] {
        static CBFFile held;
        held.Open(name.c_str(), IO_READ | IO_WRITE);
        held.Lock(LOCK_WRITE);
    });
    ASSERT_TRUE(holder.Ready());
    EXPECT_FALSE(table.TryLock(LOCK_WRITE));
    EXPECT_EQ(0, table.GetWriteLockCount());
    holder.Finish();
    EXPECT_TRUE(table.TryLock(LOCK_WRITE));
    EXPECT_EQ(1, table.GetWriteLockCount());
}

// Records another process adds or removes while this one holds no lock count once this
// one takes a lock, so that its appends go after them; what it appended under the lock is
// in the file when the lock goes.
TEST(CBFFile, ALockCountsWhatOtherProcessesChangedInTheMeantime) {
    kstest::TempDir dir;
    std::string name = MakeGoldenTable(dir);
    auto changeInChild = [&](const std::function<void(CBFFile&)>& change) {
        return kstest::RunInChild([&] {
            CBFFile other;
            other.Open(name.c_str(), IO_READ | IO_WRITE);
            other.Lock(LOCK_WRITE);
            change(other);
            other.Unlock(LOCK_WRITE);
            return other.GetNumRecords();
        });
    };
    CBFFile table;
    table.Open(name.c_str(), IO_READ | IO_WRITE);
    ASSERT_EQ(5, changeInChild([](CBFFile& other) {
                  kstest::AppendTexts(other, kGoldenTexts[1]);
                  kstest::AppendTexts(other, kGoldenTexts[2]);
              }));
    EXPECT_EQ(3, table.GetNumRecords());  // no lock: not looked at
    table.Lock(LOCK_WRITE);
    EXPECT_EQ(5, table.GetNumRecords());
    kstest::AppendTexts(table, kGoldenTexts[0]);
    EXPECT_TRUE(table.Unlock(LOCK_WRITE));
    EXPECT_EQ(2, changeInChild([](CBFFile& other) {
                  EXPECT_EQ(6, other.GetNumRecords());
                  EXPECT_EQ("1|12.34|AB|5|1000|BEEF|4000000000|65535", kstest::TextsOf(other, 6));
                  other.KeepRecords(2);
              }));
    EXPECT_EQ(6, table.GetCurrentRecordNumber());
    ASSERT_TRUE(table.TryLock(LOCK_READ));
    EXPECT_EQ(2, table.GetNumRecords());
    EXPECT_EQ(0, table.GetCurrentRecordNumber());
    EXPECT_EQ("-2|-0.50|HELLO|0|2047|0001|0|0", kstest::TextsOf(table, 2));
    table.Unlock(LOCK_READ);
    changeInChild([](CBFFile& other) {
        other.KeepRecords(1);
        kstest::AppendTexts(other, kGoldenTexts[2]);
    });
    ASSERT_TRUE(table.TryLock(LOCK_READ));  // the bytes read before the lock are not trusted
    EXPECT_EQ("2147483647|0.29||7|0|0000|1|258", kstest::TextsOf(table, 2));
}

// Data files that count how often they are positioned.
struct SeekCountingFactory : KsIOFactory {
    struct File : KsIO {
        File(const char* name, int flags, int& seeks) : KsIO(name, flags), seeks_(seeks) {}
        std::int32_t Seek(std::int32_t offset, int origin) override {
            ++seeks_;
            return KsIO::Seek(offset, origin);
        }
        int& seeks_;
    };
    int seeks = 0;
    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override {
        return std::make_unique<File>(name, flags, seeks);
    }
};

TEST(CBFFile, SequentialReadsAndAppendsDoNotSeekButReadsAfterAChangeDo) {
    kstest::TempDir dir;
    std::string name = MakeGoldenTable(dir);
    SeekCountingFactory factory;
    CBFFile table(factory);
    table.Open(name.c_str(), IO_READ | IO_WRITE);
    auto record = table.GetNewRecord();
    factory.seeks = 0;  // the structure file's are not counted
    for (int i = 0; i < 5000; ++i) {
        table.DataAppend(*table.GetCurrentRecord());
    }
    EXPECT_EQ(1, factory.seeks);  // to the end once
    factory.seeks = 0;
    for (std::int32_t n = 1; n <= table.GetNumRecords(); ++n) {
        table.GotoRecord(n, record.get());
    }
    EXPECT_EQ(1, factory.seeks);  // to the first record once
    table.GotoRecord(1);
    record->PutField(0, "77");
    table.DataModify(3, *record);  // elsewhere: the next read must seek back
    table.GotoRecord(2);
    EXPECT_EQ("-2|-0.50|HELLO|0|2047|0001|0|0", kstest::TextsOf(table, 2));
    EXPECT_EQ("77", kstest::TextsOf(table, 3).substr(0, 2));
}

TEST(CBFFile, RecordsOutsideTheTableAndStreamsAreRefused) {
    kstest::TempDir dir;
    std::string name = MakeGoldenTable(dir);
    CBFFile table;
    table.Open(name.c_str(), IO_READ);
    EXPECT_EQ("Record 4 is not in the range [1, 3] of \"" + name + ".cbf\"",
              MessageOf([&] { table.GotoRecord(4); }));
    EXPECT_EQ("Record 0 is not in the range [1, 3] of \"" + name + ".cbf\"",
              MessageOf([&] { table.GotoRecord(0); }));
    KsFieldList fields = kstest::CBFFields({{"X", 'A', 3}});
    KsVector<CBFBits> none;
    CBFRec shorter(fields, 3, none);
    EXPECT_EQ("A record of 3 bytes does not fit \"" + name + ".cbf\", whose records have 23",
              MessageOf([&] { table.GotoRecord(1, &shorter); }));
    kstest::MemoryStream stream;
    auto error = kstest::CaughtError<KsNotImplementedError>([&] { table.Write(stream); });
    EXPECT_STREQ("CBFFile is not streamable", error.GetErrorMessage());
    EXPECT_THROW(CBFFileType::Instance().ReadFile(stream), KsNotImplementedError);
    EXPECT_EQ("Attempt to write to a read-only file",
              MessageOf([&] { table.DataModify(1, *table.GetCurrentRecord()); }));
    char stored[4 * 23];
    EXPECT_EQ("Records 2 to 4 are not in the range [1, 3] of \"" + name + ".cbf\"",
              MessageOf([&] { table.ReadStoredRecords(2, 3, stored); }));
    EXPECT_EQ("Record 5 is not in the range [1, 4] of \"" + name + ".cbf\"",
              MessageOf([&] { table.WriteStoredRecords(5, 1, stored); }));
    table.ReadStoredRecords(2, 2, stored);
    table.Close();
    table.Open(name.c_str(), IO_READ | IO_WRITE);
    table.WriteStoredRecords(3, 2, stored);  // records 2 and 3 again as records 3 and 4
    ASSERT_EQ(4, table.GetNumRecords());
    EXPECT_EQ(kstest::TextsOf(table, 2), kstest::TextsOf(table, 3));
    EXPECT_NE(kstest::TextsOf(table, 2), kstest::TextsOf(table, 4));
}

}  // namespace
