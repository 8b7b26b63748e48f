// A write that fails anywhere in allocating, freeing, inserting, rewriting or erasing leaves
// a list file whose lists and free list still walk to their ends with no block in two
// places, and that can still be used.

#include <gtest/gtest.h>

#include "KsIOListTestSupport.h"
#include "support/FaultInjectingFile.h"

namespace {

using kstest::Block;
using kstest::FaultOp;
using kstest::Item;
using Log = KsIOListOfLists<Item, Item>;

class KsIOListFaultTest : public kstest::ListFileTest {
protected:
    Block held[2];  // blocks outside the lists; the scenario frees the first

    // Transactions with two actions each, a list with a hole, blocks held and freed.
    void SetUp() override {
        Prepare(2);
        Log log(file, 16);
        auto it = log.begin(LOCK_WRITE);
        for (const char* name : {"t3", "t2", "t1"}) {
            log.insert(it, {name});
            KsIOList<Item> actions = it.SubList();
            auto action = actions.begin(LOCK_WRITE);
            actions.insert(action, {std::string(name) + " second action"});
            actions.insert(action, {std::string(name) + " first"});
        }
        it.GetVoidIterator().Release();
        KsIOList<Item> plain(file, 24);
        auto at = plain.begin(LOCK_WRITE);
        for (const char* text : {"p4", "p3, which is long", "removed", "p1"}) {
            plain.insert(at, {text});
        }
        plain.erase(++at);
        at.GetVoidIterator().Release();
        KsIOSimpleList<void> raw(file, 16);
        held[0] = {raw.Allocate(32), 32};
        raw.Free(raw.Allocate(16), 16);
        held[1] = {raw.Allocate(48), 48};
    }

    // Touches every path that writes: allocations that split, take whole blocks or extend
    // the file, frees that merge both ways, inserts into lists and lists of lists, rewrites
    // that shrink and grow, erases with sub-lists.
    void Scenario(KsIOInterface& list) {
        Log log(list, 16);
        {
            auto it = log.begin(LOCK_WRITE);
            ++it;
            log.insert(it, {"t1.5"});
            KsIOList<Item> actions = it.SubList();
            auto action = actions.begin(LOCK_WRITE);
            actions.insert(action, {"t1.5 only action"});
        }
        auto first = log.begin(LOCK_WRITE);
        log.erase(first);  // t1 with its sub-list
        first.GetVoidIterator().Release();
        KsIOList<Item> plain(list, 24);
        auto it = plain.begin(LOCK_WRITE);
        it.Write({"p1, grown well past its block"});
        (++it).Write({"p3"});
        plain.erase(it);
        it.GetVoidIterator().Release();
        KsIOSimpleList<void> raw(list, 16);
        raw.Free(held[0].offset, held[0].size);
        raw.Allocate(48);
    }
};

TEST_F(KsIOListFaultTest, EveryFailedWriteLeavesASoundFile) {
    std::string initial = Image().bytes;
    auto plan = std::make_shared<kstest::FaultPlan>();
    {
        kstest::FaultInjectingUnbufferedFile clean(plan, path.c_str(), IO_READ | IO_WRITE);
        Scenario(clean);
    }
    const int writes = plan->Calls(FaultOp::kWriteTo);
    ASSERT_GT(writes, 40);
    enum Mode { kOnce, kFromThenOn, kCutShort };
    for (Mode mode : {kOnce, kFromThenOn, kCutShort}) {
        for (int n = 1; n <= writes && !HasFailure(); ++n) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", write " + std::to_string(n));
            kstest::WriteWholeFile(path, initial);
            plan->Reset();
            // Cut short: a longer write stops after 8 bytes; a word is written whole.
            mode == kCutShort ? plan->FailShort(FaultOp::kWriteTo, n, 8, EIO)
                              : plan->Fail(FaultOp::kWriteTo, n, ENOSPC, mode == kFromThenOn);
            {
                kstest::FaultInjectingUnbufferedFile failing(plan, path.c_str(),
                                                             IO_READ | IO_WRITE);
                try {
                    Scenario(failing);
                    EXPECT_EQ(mode, kCutShort);
                } catch (const KsException&) {
                }
                EXPECT_EQ(failing.GetLockEntryCount(), 0);
            }
            ExpectSound({24}, {16}, false, {held[1]});
            Log log(file, 16);
            for (auto it = log.begin(); it != log.end(); ++it) {
                KsIOList<Item> actions = it.SubList();
                EXPECT_NO_THROW(kstest::Texts(actions));
            }
            KsIOList<Item> plain(file, 24);
            EXPECT_NO_THROW(kstest::Texts(plain));
            KsIOSimpleList<void>(file, 16).Free(KsIOSimpleList<void>(file, 16).Allocate(32), 32);
            ExpectSound({24}, {16}, false, {held[1]});
        }
    }
}

}  // namespace
