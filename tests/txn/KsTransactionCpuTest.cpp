// The inverse a commit keeps when the record it predicted from changes before the change
// itself, and the record comparison that lets it keep a prediction without serialising.

#include <cstring>
#include <functional>
#include <vector>

#include "TxnTestSupport.h"
#include "io/KsIO.h"

namespace {

using kstest::MakeRecord;

// A file that runs `hook` (once) when it is flushed.
class HookedFile : public KsIO {
public:
    HookedFile(const char* name, int flags, std::function<void()>* hook)
        : KsIO(name, flags), hook_(hook) {}
    void Flush() override {
        KsIO::Flush();
        if (*hook_) {
            std::exchange(*hook_, nullptr)();
        }
    }

private:
    std::function<void()>* hook_;
};

// Gives the inverse files (named "BC_...") the hook; other files are plain.
class HookedFactory : public KsIOFactory {
public:
    std::function<void()> onInverseFlush;
    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override {
        const char* base = std::strrchr(name, '/');
        if (std::strncmp(base != nullptr ? base + 1 : name, "BC_", 3) == 0) {
            return std::make_unique<HookedFile>(name, flags, &onInverseFlush);
        }
        return KsIOFactory::Open(name, flags);
    }
};

class UnsyncedCommit : public kstest::TxnTableTest {
protected:
    UnsyncedCommit() {
        KsFileTransactionLog::SetSyncing(false);
        Recreate(factory);
        Append(1, "ann");
        Append(2, "bob");
        Append(3, "cy");
    }
    ~UnsyncedCommit() override {
        table.reset();
        KsFileTransactionLog::SetSyncing(true);
    }
    // Commits "modify record 2 to carl" followed by an action that fails, so that the
    // commit undoes the modify from its inverse.
    std::string CommitFailing() {
        KsTransactionNew transaction(*table, 1, "t");
        KsModifyAction modify(*MakeRecord(*table, 2, "carl"), 2);
        transaction.AddAction(*table, modify);
        KsDeleteAction missing(9);
        transaction.AddAction(*table, missing);
        return kstest::MessageOrEmpty([&] { transaction.Commit(); });
    }
    HookedFactory factory;
};

TEST_F(UnsyncedCommit, UndoesToTheContentFoundAtTheChangeNotThePredictedOne) {
    // Another writer's change, made after the inverse was predicted from "bob".
    factory.onInverseFlush = [&] { table->DataModify(2, *MakeRecord(*table, 2, "dave")); };
    EXPECT_EQ(CommitFailing().rfind("The commit failed because \"The deletion of a record failed "
                                    "with message \"Record 9 is not in the range [1, 3] of",
                                    0),
              0u);
    EXPECT_EQ(factory.onInverseFlush, nullptr);  // the hook ran
    EXPECT_EQ(kstest::Content(*table), "1|ann;2|dave;3|cy");
}

// ---- Records of known equal content

class SameContent : public kstest::TxnTableTest {};

TEST_F(SameContent, HoldsForEqualBytesOfOneTableOnly) {
    auto bob = MakeRecord(*table, 2, "bob");
    EXPECT_TRUE(bob->HasSameContentAs(*MakeRecord(*table, 2, "bob")));
    EXPECT_TRUE(bob->HasSameContentAs(*bob));
    EXPECT_FALSE(bob->HasSameContentAs(*MakeRecord(*table, 2, "boc")));
    EXPECT_FALSE(bob->HasSameContentAs(*MakeRecord(*table, 3, "bob")));

    // A table of the same layout: the same bytes, but other fields.
    KsFieldList fields = kstest::CBFFields({{"Id", 'I'}, {"Name", 'A', 8}});
    CBFFile::PackFields(nullptr, fields);
    auto other = kstest::CreateTable(dir.File("other.cbf"), fields);
    auto twin = MakeRecord(*other, 2, "bob");
    std::vector<char> a(static_cast<std::size_t>(bob->GetRecordLength()));
    std::vector<char> b(static_cast<std::size_t>(twin->GetRecordLength()));
    bob->Store(a.data());
    twin->Store(b.data());
    ASSERT_EQ(a, b);
    EXPECT_FALSE(bob->HasSameContentAs(*twin));
    EXPECT_FALSE(twin->HasSameContentAs(*bob));
}

// A record class that keeps a value outside its bytes: equal bytes say nothing of it.
class ExtraRecord : public CBFRec {
public:
    using CBFRec::CBFRec;
    ExtraRecord* Clone() const override { return new ExtraRecord(*this); }
    int extra = 0;
};

TEST_F(SameContent, IsNotClaimedForADerivedRecordClass) {
    auto bob = MakeRecord(*table, 2, "bob");
    const auto& base = static_cast<const CBFRec&>(*bob);
    ExtraRecord one(bob->GetFields(), static_cast<std::int16_t>(bob->GetRecordLength()),
                    base.GetUserBitFields());
    one.LoadFieldsFrom(*bob);
    ExtraRecord two(one);
    two.extra = 1;
    EXPECT_FALSE(one.HasSameContentAs(two));
    EXPECT_FALSE(bob->HasSameContentAs(one));
    EXPECT_FALSE(one.HasSameContentAs(*bob));
}

}  // namespace
