// A write that fails anywhere in allocating, freeing, inserting, rewriting or erasing leaves
// a list file whose lists and free list still walk to their ends with no block in two
// places, and that can still be used.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KsIOListTestSupport.h"
#include "io/KsIOList.h"
#include "support/FaultInjectingFile.h"

namespace {

using kstest::FaultOp;
using kstest::FaultPlan;
using kstest::Item;
using kstest::Texts;
using Block = kstest::ListFileImage::Block;
using Log = KsIOListOfLists<Item, Item>;

class KsIOListFaultTest : public kstest::ListFileTest {
protected:
    static constexpr std::uint64_t kLog = 16;    // list 0: a list of lists
    static constexpr std::uint64_t kPlain = 24;  // list 1
    std::vector<Block> held;                     // blocks outside the lists; [0] gets freed
    std::vector<Block> taken;                    // what the scenario allocated

    // Transactions with two actions each, a list with holes, blocks held and freed.
    void SetUp() override {
        Prepare(2);
        Log log(file, kLog);
        auto it = log.begin(LOCK_WRITE);
        for (const char* name : {"t3", "t2", "t1"}) {
            log.insert(it, {name});
            KsIOList<Item> actions = it.SubList();
            auto action = actions.begin(LOCK_WRITE);
            actions.insert(action, {std::string(name) + " second action"});
            actions.insert(action, {std::string(name) + " first"});
        }
        it.GetVoidIterator().Release();
        KsIOList<Item> plain(file, kPlain);
        auto at = plain.begin(LOCK_WRITE);
        for (const char* text : {"p5", "p4, a longer one", "p3, which is long", "p2", "p1"}) {
            plain.insert(at, {text});
        }
        ++at;
        plain.erase(at);  // p2
        ++at;
        plain.erase(at);  // p4
        at.GetVoidIterator().Release();
        KsIOSimpleList<void> raw(file, kLog);
        for (std::uint64_t size : {32, 16, 48, 16}) {
            held.push_back({raw.Allocate(size), size});
        }
        raw.Free(held[3].offset, 16);
        held.pop_back();
    }

    // Touches every path that writes: allocations that split, take whole blocks or extend
    // the file, frees that merge both ways, inserts into lists and lists of lists, rewrites
    // that shrink and grow, erases with and without sub-lists.
    void Scenario(KsIOInterface& list) {
        Log log(list, kLog);
        {
            auto it = log.begin(LOCK_WRITE);
            ++it;
            log.insert(it, {"t1.5"});
            KsIOList<Item> actions = it.SubList();
            auto action = actions.begin(LOCK_WRITE);
            actions.insert(action, {"t1.5 only action"});
        }
        KsIOList<Item> plain(list, kPlain);
        {
            auto it = plain.begin(LOCK_WRITE);
            it.Write({"p1, grown well past its block"});
            ++it;
            it.Write({"p3"});
            plain.erase(it);
        }
        {
            auto it = log.begin(LOCK_WRITE);
            log.erase(it);
        }
        KsIOSimpleList<void> raw(list, kLog);
        raw.Free(held[0].offset, held[0].size);
        for (std::uint64_t size : {48, 16}) {
            taken.push_back({raw.Allocate(size), size});
        }
    }

    // The file walks, reads back, holds no block twice and can still be changed.
    void ExpectUsable() {
        std::vector<Block> stillHeld(held.begin() + 1, held.end());
        ExpectSound({kPlain}, {kLog}, false, stillHeld);
        Log log(file, kLog);
        for (auto it = log.begin(); it != log.end(); ++it) {
            KsIOList<Item> actions = it.SubList();
            EXPECT_NO_THROW(Texts(actions));
        }
        KsIOList<Item> plain(file, kPlain);
        EXPECT_NO_THROW(Texts(plain));
        KsIOSimpleList<void> raw(file, kLog);
        raw.Free(raw.Allocate(32), 32);
        ExpectSound({kPlain}, {kLog}, false, stillHeld);
    }
};

TEST_F(KsIOListFaultTest, EveryFailedWriteLeavesASoundFile) {
    std::string initial = kstest::ReadWholeFile(path);
    auto plan = std::make_shared<FaultPlan>();
    {
        kstest::FaultInjectingUnbufferedFile clean(plan, path.c_str(), IO_READ | IO_WRITE);
        Scenario(clean);
    }
    taken.insert(taken.end(), held.begin() + 1, held.end());
    ExpectSound({kPlain}, {kLog}, true, taken);
    const int writes = plan->Calls(FaultOp::kWriteTo);
    ASSERT_GT(writes, 40);

    enum Mode { kOnce, kFromThenOn, kCutShort };
    for (Mode mode : {kOnce, kFromThenOn, kCutShort}) {
        for (int n = 1; n <= writes; ++n) {
            SCOPED_TRACE("mode " + std::to_string(mode) + ", write " + std::to_string(n));
            kstest::WriteWholeFile(path, initial);
            plan->Reset();
            if (mode == kCutShort) {
                // A longer write stops after 8 bytes; a word is written whole and succeeds.
                plan->FailShort(FaultOp::kWriteTo, n, 8, EIO);
            } else {
                plan->Fail(FaultOp::kWriteTo, n, ENOSPC, mode == kFromThenOn);
            }
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
            ExpectUsable();
            if (HasFailure()) {
                return;
            }
        }
    }
}

}  // namespace
