#include <cstring>
#include <fstream>
#include <iterator>

#include "TxnTestSupport.h"
#include "core/KsByteOrder.h"
#include "io/KsIOList.h"
#include "io/KsIOListCache.h"
#include "io/KsIOLockGuard.h"

namespace {

using kstest::Content;
using kstest::MakeRecord;

class SpeedPath : public kstest::TxnTableTest {
protected:
    // The table's inverse files, with their bytes.
    std::vector<std::pair<std::string, std::string>> InverseBytes() const {
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            if (entry.path().filename().string().rfind("BC_", 0) == 0) {
                std::ifstream in(entry.path(), std::ios::binary);
                out.emplace_back(entry.path().string(),
                                 std::string(std::istreambuf_iterator<char>(in), {}));
            }
        }
        return out;
    }
    void Modify(KsTransactionNew& transaction, std::int32_t n, int id, const char* name) {
        KsModifyAction action(*MakeRecord(*table, id, name), n);
        transaction.AddAction(*table, action);
    }
};

// Commits through one open reuse one inverse file: each empties it and writes the header
// naming the transaction (its created day number and milliseconds) and its entries, which
// stay until the next commit; the file goes when the table closes.
TEST_F(SpeedPath, OneInverseFileServesEveryCommitAndGoesWithTheTable) {
    Append(1, "one");
    std::string name;
    for (int round = 0; round < 3; ++round) {
        KsTransactionNew transaction(*table, 1, "reuse");
        Modify(transaction, 1, 10 + round, "m");
        auto committer = Log().BeginCommission(transaction.GetIdentity());
        committer->Commit(KsNullProgress::Instance());
        auto files = InverseBytes();
        ASSERT_EQ(files.size(), 1U);
        name = round == 0 ? files[0].first : name;
        EXPECT_EQ(files[0].first, name) << round;
        const std::string& bytes = files[0].second;
        ASSERT_GT(bytes.size(), 24U);
        EXPECT_EQ(bytes.substr(0, 8), "Inverses");
        const KsTimestamp& id = transaction.GetIdentity();
        EXPECT_EQ(KsByteOrder::LoadLittle<std::uint32_t>(bytes.data() + 8),
                  id.GetJulianDayFromCalendarStart());
        EXPECT_EQ(KsByteOrder::LoadLittle<std::uint32_t>(bytes.data() + 12),
                  id.GetTimeInMilliseconds());
        EXPECT_EQ(bytes[16], 'K');  // one entry, after the header: the last commit's went
        EXPECT_EQ(KsByteOrder::LoadLittle<std::uint64_t>(bytes.data() + bytes.size() - 8), 16U);
        committer.reset();
        EXPECT_EQ(InverseBytes().at(0).second, bytes) << round;
        EXPECT_EQ(InverseFiles(), 0) << round;
    }
    EXPECT_EQ(Content(*table), "12|m");
    table->Close();
    EXPECT_EQ(InverseFiles(true), 0);
}

// An inverse file whose header names a transaction that ended (its emptying was lost) is
// deleted unapplied; one cut inside its header is deleted too; one that another opener
// holds locked is left alone.
TEST_F(SpeedPath, RecoveryAppliesOnlyFilesOfCommitsStillCommitting) {
    Append(1, "one");
    std::string stale;
    {
        KsTransactionNew transaction(*table, 1, "stale");
        Modify(transaction, 1, 2, "two");
        auto committer = Log().BeginCommission(transaction.GetIdentity());
        committer->Commit(KsNullProgress::Instance());
        stale = InverseBytes().at(0).second;
    }
    std::vector<std::string> names;
    KsTimestamp made;
    made.SetYear(2001);
    for (std::uint16_t day = 1; day <= 3; ++day) {
        made.SetDay(day);
        names.emplace_back(KsFileTransactionCommitter::InverseFileName(*table, made).GetCString());
    }
    table->Close();
    const std::string held = names[2];
    const std::string contents[] = {stale, stale.substr(0, 15), stale};
    for (std::size_t i = 0; i < 3; ++i) {
        std::ofstream(names[i], std::ios::binary) << contents[i];
    }
    auto holder = KsIOFactory::Default().Open(held.c_str(), IO_READ | IO_WRITE);
    KsIOLockGuard lock(*holder, LOCK_WRITE, 0, 0);
    table->Open(Name().c_str(), IO_READ | IO_WRITE);
    EXPECT_TRUE(Log().GetRecovered().empty());
    EXPECT_EQ(Content(*table), "2|two");
    ASSERT_EQ(InverseBytes().size(), 1U);
    EXPECT_EQ(InverseBytes()[0].first, held);
}

// Under the whole-log lock space at the end is taken without writing; what is still not
// written when the lock goes is filled out, so the file ends where the blocks do.
TEST_F(SpeedPath, SpaceReservedUnderTheCacheIsFilledOutWhenItEnds) {
    std::string name = dir.File("list.kls");
    auto file = KsIOFactory::Default().Open(name.c_str(), IO_READ | IO_WRITE | IO_CREATE);
    KsIOSimpleList<void>(*file, KsIOListFormat::ListPosition(0)).PrepareFile(1);
    KsIOList<void> list(*file, KsIOListFormat::ListPosition(0));
    const std::int64_t start = file->GetFileSize64();
    {
        KsIOLockGuard whole(*file, LOCK_WRITE, 0, 0);
        KsIOListCache::Scope cache(*file);
        EXPECT_EQ(list.Allocate(32), static_cast<std::uint64_t>(start));
        EXPECT_EQ(list.Allocate(16), static_cast<std::uint64_t>(start + 32));
        EXPECT_EQ(file->GetFileSize64(), start);
        EXPECT_EQ(list.AppendSerializedObject("abcde", 5), static_cast<std::uint64_t>(start + 48));
        // The object's block is written whole, padding and all.
        KsIOListCache::Of(*file)->Flush();
        EXPECT_EQ(file->GetFileSize64(), start + 64);
        EXPECT_EQ(list.Allocate(48), static_cast<std::uint64_t>(start + 64));
    }
    EXPECT_EQ(file->GetFileSize64(), start + 112);
    EXPECT_EQ(list.Allocate(16), static_cast<std::uint64_t>(start + 112));
}

}  // namespace
