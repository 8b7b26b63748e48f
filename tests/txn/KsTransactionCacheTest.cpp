#include "../io/ChildProcess.h"
#include "TxnTestSupport.h"

namespace {

using Cache = kstest::TxnTableTest;

// The log remembers where its transaction stands and what it logged. Another opener then
// makes a newer transaction (the remembered node no longer heads the log) and rewrites a
// logged action: the next action still joins the transaction, and the commit carries out
// what the log holds, not what this process wrote there.
TEST_F(Cache, ChangesOfAnotherOpenerBetweenActionsAreSeen) {
    Append(1, "one");
    Append(2, "two");
    KsTransactionNew mine(*table, 1, "mine");
    Add(mine, KsModifyAction(*kstest::MakeRecord(*table, 1, "first"), 1));
    const KsTimestamp id = mine.GetIdentity();
    auto otherOpener = [&] {
        CBFFile other;
        other.Open(Name().c_str(), IO_READ | IO_WRITE);
        auto& log = static_cast<KsFileTransactionLog&>(other.GetTransactionLog());
        log.ForEachAction(id, [&](KsRecordActionListWrapper& logged) {
            logged.Reset(
                std::make_unique<KsModifyAction>(*kstest::MakeRecord(other, 1, "child"), 1));
            return true;
        });
        {
            KsTransactionNew theirs(other, 2, "theirs");  // heads the log from now on
        }
        other.Close();
        return 0;
    };
    ASSERT_EQ(0, kstest::RunInChild(otherOpener));
    Add(mine, KsModifyAction(*kstest::MakeRecord(*table, 2, "second"), 2));
    mine.Commit();
    EXPECT_EQ("1|child;2|second", kstest::Content(*table));
    std::string seen;  // newest first: description, status, actions
    Log().ForEach([&](const KsFileTransactionStatus& status, std::uint32_t actions) {
        seen += status.GetDescription() + (status.GetStatus() + std::to_string(actions)) + ";";
    });
    EXPECT_EQ(seen, "theirsR0;mineC2;");
}

}  // namespace
