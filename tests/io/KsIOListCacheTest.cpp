// The page cache of a list file: reads come from memory while it lives; a read past the end
// fails as the file's own does; space it reserves is filled out when it ends.

#include "io/KsIOListCache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/KsIOList.h"
#include "io/KsIOListWords.h"
#include "io/KsIOLockGuard.h"
#include "io/KsIOUnbuffered.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using Texts = std::vector<std::string>;
constexpr std::uint64_t kList = KsIOListFormat::ListPosition(0);

class KsIOListCacheTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("cached.klg");
    KsIOUnbuffered file{path.c_str(), IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE};

    KsIOListCacheTest() { KsIOSimpleList<void>(file, kList).PrepareFile(1); }
    // The objects of the list as read through `file`, cached or not.
    Texts Walk() {
        KsIOList<void> list(file, kList);
        Texts texts;
        for (auto it = list.begin(KsIOListBase::kUnlocked); !it.AtEnd(); ++it) {
            KsIOListObject object;
            list.ReadElement(it, object);
            texts.emplace_back(static_cast<const char*>(object.GetData()), object.GetSize());
        }
        return texts;
    }
};

TEST_F(KsIOListCacheTest, ReadsComeFromMemoryWhileTheScopeLivesAndFailAsTheFileDoes) {
    KsIOList<void> list(file, kList);
    auto it = list.begin(KsIOListBase::kUnlocked);
    list.InsertElement(it, "kept", 4);
    it.Release();
    auto first = [&] { return Walk().at(0).substr(0, 4); };  // without the padding
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
