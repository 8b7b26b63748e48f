// The page cache of a list file: random changes made through it, some failing, read back
// as the file itself holds them; reads come from memory while it lives; a read past the
// end fails as the file's own does; space it reserves is filled out when it ends.

#include "io/KsIOListCache.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "io/KsIOList.h"
#include "io/KsIOListWords.h"
#include "io/KsIOLockGuard.h"
#include "io/KsIOUnbuffered.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using Texts = std::vector<std::string>;
constexpr std::uint64_t kList = KsIOListFormat::ListPosition(0);

class KsIOListCacheTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("cached.klg");
    std::shared_ptr<kstest::FaultPlan> plan = std::make_shared<kstest::FaultPlan>();
    kstest::FaultInjectingUnbufferedFile file{plan, path.c_str(),
                                              IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE};
    std::mt19937 random{7};

    KsIOListCacheTest() { KsIOSimpleList<void>(file, kList).PrepareFile(1); }
    // The objects of the list as read through `through`: `file`, cached or not, or (the
    // default) a file object of its own, which nothing caches.
    Texts Walk(KsIOInterface* through = nullptr) const {
        KsIOUnbuffered own(path.c_str(), IO_READ);
        KsIOList<void> list(through ? *through : own, kList);
        Texts texts;
        for (auto it = list.begin(KsIOListBase::kUnlocked); !it.AtEnd(); ++it) {
            KsIOListObject object;
            list.ReadElement(it, object);
            texts.emplace_back(static_cast<const char*>(object.GetData()), object.GetSize());
        }
        return texts;
    }
    // Inserts, erases or rewrites a random element. Objects stay below 250 bytes, which a
    // list file writes in one piece, so that a failed write leaves the file sound.
    void Change() {
        KsIOList<void> list(file, kList);
        auto it = list.begin(KsIOListBase::kUnlocked);
        for (std::size_t skip = random() % 8; skip > 0 && !it.AtEnd(); --skip) {
            ++it;
        }
        std::string text(random() % 250, static_cast<char>('a' + random() % 26));
        auto n = static_cast<std::uint32_t>(text.size());
        unsigned kind = random() % 4;
        if (kind < 2 || it.AtEnd()) {
            list.InsertElement(it, text.data(), n);
        } else if (kind == 2) {
            list.EraseElement(it);
        } else {
            list.RewriteElement(it, text.data(), n);
        }
    }
};

TEST_F(KsIOListCacheTest, ChangesThroughTheCacheReadBackAsTheFileHoldsThem) {
    int failed = 0;
    for (int round = 0; round < 60 && !HasFailure(); ++round) {
        KsIOListCache::Scope scope(file);
        ASSERT_NE(KsIOListCache::Of(file), nullptr);
        for (int step = 0; step < 25; ++step) {
            SCOPED_TRACE(testing::Message() << "round " << round << " step " << step);
            plan->Reset();
            if (step % 5 == 4) {
                // The cache must not run ahead of a file whose write failed.
                plan->Fail(kstest::FaultOp::kWriteTo, 1 + static_cast<int>(random() % 6));
            }
            try {
                Change();
            } catch (const KsException&) {
                ++failed;
            }
            plan->Reset();
            KsIOListCache::Of(file)->Flush();  // the write held back, if any
            ASSERT_EQ(Walk(&file), Walk());
            ASSERT_EQ(KsIOListWords::Size(file), kstest::ReadWholeFile(path).size());
        }
    }
    EXPECT_EQ(KsIOListCache::Of(file), nullptr);
    EXPECT_GT(failed, 150);
}

TEST_F(KsIOListCacheTest, ReadsComeFromMemoryWhileTheScopeLivesAndFailAsTheFileDoes) {
    KsIOList<void> list(file, kList);
    auto it = list.begin(KsIOListBase::kUnlocked);
    list.InsertElement(it, "kept", 4);
    it.Release();
    auto first = [&] { return Walk(&file).at(0).substr(0, 4); };  // without the padding
    const std::uint64_t end = KsIOListWords::Size(file);
    {
        KsIOListCache::Scope outer(file);
        KsIOListCache::Scope inner(file);  // shares the outer one's pages
        EXPECT_EQ(first(), "kept");
        // Changed behind the cache's back (which no process may do while the whole file is
        // locked), the object still reads as cached.
        KsIOUnbuffered(path.c_str(), IO_READ | IO_WRITE).WriteTo(end - 12, "lost", 4);
        EXPECT_EQ(first(), "kept");
        char bytes[8];
        EXPECT_EQ(kstest::MessageOf([&] { KsIOListWords::ReadBytes(file, end - 4, bytes, 8); }),
                  kstest::MessageOf([&] { file.ReadFrom(end - 4, bytes, 8, true); }));
    }
    EXPECT_EQ(first(), "lost");
}

// Under the whole-file lock space at the end is taken without writing; what is still not
// written when the cache ends is filled out, so the file ends where the blocks do.
TEST_F(KsIOListCacheTest, SpaceReservedUnderTheCacheIsFilledOutWhenItEnds) {
    KsIOList<void> list(file, kList);
    auto size = [&] { return static_cast<std::uint64_t>(file.GetFileSize64()); };
    const std::uint64_t start = size();
    {
        KsIOLockGuard whole(file, LOCK_WRITE, 0, 0);
        KsIOListCache::Scope cache(file);
        EXPECT_EQ(list.Allocate(32), start);
        EXPECT_EQ(list.Allocate(16), start + 32);
        EXPECT_EQ(size(), start);
        EXPECT_EQ(list.AppendSerializedObject("abcde", 5), start + 48);
        KsIOListCache::Of(file)->Flush();  // the object's block is written whole, padding and all
        EXPECT_EQ(size(), start + 64);
        EXPECT_EQ(list.Allocate(48), start + 64);
    }
    EXPECT_EQ(size(), start + 112);
    EXPECT_EQ(list.Allocate(16), start + 112);
}

}  // namespace
