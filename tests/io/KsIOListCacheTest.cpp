// The page cache of a list file: random changes made through it read back the same as the
// file itself holds, after short writes too; reads are served from memory while it lives;
// and reads past the end fail as the file's own do.

#include "io/KsIOListCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "io/KsIOList.h"
#include "io/KsIOUnbuffered.h"
#include "io/KsIOListWords.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

// An element holding a text with its 32-bit length in front.
struct Text {
    std::string text;
    void Read(KsInputStreamInterface& in) {
        text.assign(std::min(in.ReadUnsignedLong(), 8192u), '\0');
        in.Read(text.data(), static_cast<std::int32_t>(text.size()), true);
    }
    void Write(KsOutputStreamInterface& out) const {
        out.WriteUnsignedLong(static_cast<std::uint32_t>(text.size()));
        out.Write(text.data(), static_cast<std::int32_t>(text.size()));
    }
};
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

    // The texts of the list as read through `through` (cached or not).
    static Texts Walk(KsIOInterface& through) {
        KsIOList<Text> list(through, kList);
        Texts texts;
        for (auto it = list.begin(KsIOListBase::kUnlocked); !(it == list.end()); ++it) {
            texts.push_back((*it).text);
        }
        return texts;
    }
    // What the file holds, read through a file object of its own, which nothing caches.
    Texts OnDisk() const {
        KsIOUnbuffered other(path.c_str(), IO_READ);
        return Walk(other);
    }
    // Inserts, erases or rewrites a random element. Texts stay below 250 bytes, which a list
    // file writes in one piece, so that a failed write leaves it sound.
    void Change() {
        KsIOList<Text> list(file, kList);
        auto it = list.begin(KsIOListBase::kUnlocked);
        for (std::size_t skip = random() % 8; skip > 0 && !(it == list.end()); --skip) {
            ++it;
        }
        std::string text(random() % 250,
                         static_cast<char>('a' + random() % 26));
        unsigned kind = random() % 4;
        if (kind < 2 || it == list.end()) {
            list.insert(it, {text});
        } else if (kind == 2) {
            list.erase(it);
        } else {
            it.Write({text});
        }
    }
};

TEST_F(KsIOListCacheTest, ChangesThroughTheCacheReadBackAsTheFileHoldsThem) {
    KsIOSimpleList<void>(file, kList).PrepareFile(1);
    int failed = 0;
    for (int round = 0; round < 60 && !HasFailure(); ++round) {
        KsIOListCache::Scope scope(file);
        ASSERT_NE(KsIOListCache::Of(file), nullptr);
        for (int step = 0; step < 25; ++step) {
            SCOPED_TRACE(testing::Message() << "round " << round << " step " << step);
            plan->Reset();
            if (step % 5 == 4) {
                // A failed write must leave the cache as the file: not ahead of it.
                plan->Fail(kstest::FaultOp::kWriteTo, 1 + static_cast<int>(random() % 6));
            }
            try {
                Change();
            } catch (const KsException&) {
                ++failed;
            }
            plan->Reset();
            ASSERT_EQ(Walk(file), OnDisk());
            ASSERT_EQ(KsIOListWords::Size(file), kstest::ReadWholeFile(path).size());
        }
    }
    EXPECT_EQ(KsIOListCache::Of(file), nullptr);
    EXPECT_GT(failed, 150);
}

TEST_F(KsIOListCacheTest, ReadsComeFromMemoryWhileTheScopeLivesAndFailAsTheFileDoes) {
    KsIOSimpleList<void>(file, kList).PrepareFile(1);
    KsIOList<Text> list(file, kList);
    auto it = list.begin(KsIOListBase::kUnlocked);
    list.insert(it, {"kept"});
    it.GetVoidIterator().Release();
    const std::uint64_t end = KsIOListWords::Size(file);
    {
        KsIOListCache::Scope outer(file);
        KsIOListCache::Scope inner(file);  // shares the outer one's pages
        EXPECT_EQ(Walk(file), Texts{"kept"});
        // A change behind the cache's back (no process may make one while the whole file is
        // locked) shows that the walk reads memory.
        {
            KsIOUnbuffered other(path.c_str(), IO_READ | IO_WRITE);
            other.WriteTo(end - 8, "lost", 4);
        }
        EXPECT_EQ(Walk(file), Texts{"kept"});
        char bytes[8];
        EXPECT_EQ(kstest::MessageOf([&] { KsIOListWords::ReadBytes(file, end - 4, bytes, 8); }),
                  kstest::MessageOf([&] { file.ReadFrom(end - 4, bytes, 8, true); }));
    }
    EXPECT_EQ(Walk(file), Texts{"lost"});
}

}  // namespace
