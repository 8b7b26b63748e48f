#include "../io/ChildProcess.h"
#include "TxnTestSupport.h"
#include "io/KsIO.h"

namespace {

using Hold = kstest::TxnTableTest;

// A batch holds the log from before its transaction begins to after it ends: the locks of
// every step inside only count, so no other process gets the log in between, and the steps
// read the log's pages from the one cache of the held lock.
TEST_F(Hold, ABatchHoldingTheLogKeepsOthersOutUntilItEnds) {
    Append(1, "one");
    Append(2, "two");
    const std::string log = Log().GetFileName();
    auto othersGetTheLog = [&] {
        return kstest::RunInChild([&] {
            KsIO file(log.c_str(), IO_READ | IO_WRITE);
            return file.TryLock(LOCK_WRITE, 0, 0) ? 1 : 0;
        });
    };
    KsTimestamp id;
    {
        KsFileTransactionLog::WholeLock hold = KsFileTransactionLog::Of(*table).LockAll();
        KsTransactionNew batch(*table, 1, "batch");
        id = batch.GetIdentity();
        Add(batch, KsModifyAction(*kstest::MakeRecord(*table, 1, "first"), 1));
        EXPECT_EQ(0, othersGetTheLog());
        Add(batch, KsModifyAction(*kstest::MakeRecord(*table, 2, "second"), 2));
        batch.Commit();
        EXPECT_EQ(0, othersGetTheLog());
    }
    EXPECT_EQ(1, othersGetTheLog());
    EXPECT_EQ("1|first;2|second", kstest::Content(*table));
    EXPECT_EQ('C', StatusOf(id));
    std::uint32_t logged = 0;
    Log().ForEach([&](const KsFileTransactionStatus&, std::uint32_t actions) { logged = actions; });
    EXPECT_EQ(2u, logged);
}

}  // namespace
