#include "files/KsBlobFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/KsByteOrder.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

std::string Words(const std::vector<std::int32_t>& words) {
    std::string bytes(4 * words.size(), '\0');
    for (std::size_t i = 0; i < words.size(); ++i) {
        KsByteOrder::StoreLittle(&bytes[4 * i], words[i]);
    }
    return bytes;
}

// A blob file of `data` from offset 4, then a table of the free head, the unused head and the
// records' words (N is counted).
std::string FileOf(const std::string& data, std::vector<std::int32_t> table) {
    table.insert(table.begin() + 2, static_cast<std::int32_t>(table.size() - 2) / 4);
    return Words({static_cast<std::int32_t>(4 + data.size())}) + data + Words(table);
}

const std::string kLetters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

std::string Get(KsBlobFile& file, std::int32_t number) {
    KsBlob blob;
    file.GetBlob(number, blob);
    return std::string(blob.GetData() ? blob.GetData() : "", blob.GetSize());
}

std::int32_t Add(KsBlobFile& file, const std::string& bytes) {
    return file.AddBlob(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

// Opening checks the states, the lists and that no extents overlap; this checks the rest:
// the table ends the file, the extents cover the data area whole (nothing is lost, no free
// extent reaches D) and the last descriptor is in use.
void ExpectTidy(const std::string& path) {
    KsBlobFile file(path.c_str(), IO_READ);
    std::int64_t d = file.GetDescriptorOffset(), n = file.GetDescriptorCount(), covered = 0;
    for (std::int32_t i = 1; i <= n; ++i) {
        const KsBlobDescriptor& descriptor = file.GetDescriptor(i);
        covered += descriptor.offset >= 0 ? descriptor.space : 0;
        EXPECT_TRUE(!descriptor.IsFreeExtent() || descriptor.End() < d) << i;
        EXPECT_TRUE(i < n || !descriptor.IsUnused());
    }
    EXPECT_EQ(covered, d - 4);
    std::size_t size = ReadWholeFile(path).size();
    EXPECT_TRUE(size == 0 || static_cast<std::int64_t>(size) == d + 12 + 16 * n) << size;
}

class KsBlobFileTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("table.ksb");
};

TEST_F(KsBlobFileTest, ABlobThatReachesTheTableGivesItsSpaceBackOnClose) {
    std::string data = kLetters.substr(0, 36);
    WriteWholeFile(path, FileOf(data, {-1, -1, 1, 4, 10, 16, 0, 20, 5, 20}));
    KsBlobFile file(path.c_str(), IO_READ | IO_WRITE);
    EXPECT_EQ(Get(file, 1), data.substr(0, 10));
    EXPECT_EQ(Get(file, 2), data.substr(16, 5));
    auto error = CaughtError<KsBlobNumberOutOfRange>([&] { Get(file, 3); });
    EXPECT_EQ(error.GetErrorMessage(),
              "BLOB 3 is out of range [1, 2] of blob file \"" + path + "\"");
    EXPECT_EQ(error.GetCallpath(), "GetBlob() of KsBlobFile (" + path + ")");
    EXPECT_THROW(file.FreeDescriptor(0), std::out_of_range);
    file.FreeAbandonedBlobs();
    EXPECT_EQ(file.GetDescriptorOffset(), 20);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path),
              Words({20}) + data.substr(0, 16) + Words({-1, -1, 1, 1, 4, 10, 16}));
    // An empty blob keeps its offset when the data area shrinks past it.
    WriteWholeFile(path, FileOf(data.substr(0, 10), {-1, -1, 1, 4, 10, 10, 1, 14, 0, 0}));
    file.Open(path.c_str(), 3);
    file.FreeDescriptor(1);
    file.Close();
    file.Open(path.c_str(), IO_READ);
    EXPECT_EQ(Get(file, 2), "");
}

TEST_F(KsBlobFileTest, FreeingMergesWithBothNeighboursAndListsTheAbsorbedDescriptors) {
    std::string data = kLetters.substr(0, 50);
    std::string before = FileOf(data, {1,  5,             // free 1 [14,24) and 3 [34,44)
                                       3,  14, -1, 10,    // 1
                                       1,  4,  10, 10,    // 2: blob
                                       -1, 34, -1, 10,    // 3
                                       1,  24, 10, 10,    // 4: blob between the two
                                       -1, -1, -1, -1,    // 5: unused
                                       1,  44, 10, 10});  // 6: blob
    WriteWholeFile(path, before);
    KsBlobFile file(path.c_str(), 3);
    // Descriptors without a blob can be neither read nor freed.
    EXPECT_EQ(MessageOf([&] { Get(file, 1); }), "BLOB 1 is not in use.");
    KsException error = CaughtError([&] { file.FreeDescriptor(5); });
    EXPECT_EQ(error.GetErrorMessage() + std::string(error.GetCallpath()),
              "BLOB 5 is not in use.FreeDescriptor() of KsBlobFile (" + path + ")");
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), before);
    file.Open(path.c_str(), 3);
    file.FreeDescriptor(4);
    file.Close();
    // One free extent [14,44); 3 and 4 joined the unused list in order.
    EXPECT_EQ(ReadWholeFile(path), FileOf(data, {1,  3,           // heads
                                                 -1, 14, -1, 30,  // 1
                                                 1,  4,  10, 10,  // 2
                                                 4,  -1, -1, -1,  // 3
                                                 5,  -1, -1, -1,  // 4
                                                 -1, -1, -1, -1,  // 5
                                                 1,  44, 10, 10}));
}

TEST_F(KsBlobFileTest, CorruptFilesAreRefusedWithTheFileAndTheFault) {
    std::string ten = kLetters.substr(0, 10);
    std::vector<std::pair<std::string, std::string>> cases = {
        {"abc", "it has 3 bytes, fewer than the 16 of an empty table"},
        {Words({2, -1, -1, 0}), "its descriptor table offset 2 lies outside its 16 bytes"},
        {Words({4, -1, -1, INT32_MAX}),
         "2147483647 descriptors at offset 4 do not fit in its 16 bytes"},
        {FileOf(ten, {-1, -1, 1, 4, 10, 9}),
         "descriptor 1 (link 1, offset 4, length 10, space 9) is in no valid state"},
        {FileOf(ten, {-1, -1, 1, 6, 10, 10}),
         "descriptor 1 (link 1, offset 6, length 10, space 10) is in no valid state"},
        {FileOf(ten, {-1, -1, 1, 4, 4, 4, 1, 6, 2, 2}),
         "the extents of descriptors 1 and 2 overlap"},
        {FileOf(ten, {3, -1, 1, 4, 4, 4}), "its free list links to descriptor 3, outside 1 to 1"},
        {FileOf(ten, {1, -1, 2, 4, -1, 2, -1, 6, -1, 2, 1, 8, 6, 6}),
         "its free list goes back or touches at descriptor 2"},
        {FileOf(ten, {2, -1, 1, 4, 10, 10, -1, 6, -1, 0}),
         "its free list holds descriptor 2, which has no extent"},
        {FileOf(ten, {-1, -1, 1, 4, 2, 2, -1, 6, -1, 8}),
         "1 free extents are not on its free list"},
        {FileOf(ten, {-1, 1, 1, -1, -1, -1, 1, 4, 10, 10}),
         "its unused list links to descriptor 1 after 1, out of order or outside 1 to 2"},
        {FileOf(ten, {1, -1, 1, 4, 10, 10}), ""},  // a blob on a list: the lists' own error
    };
    KsBlobFile file(path.c_str(), IO_READ);
    for (const auto& [bytes, fault] : cases) {
        WriteWholeFile(path, bytes);
        KsException error = CaughtError([&] { file.Open(path.c_str(), 3); });
        EXPECT_EQ(error.GetErrorMessage(),
                  fault.empty() ? "Attempt to link allocated KsBlobDescriptor into KsBlobFile "
                                  "free/unused list."
                                : "Blob file \"" + path + "\" is corrupt: " + fault);
        EXPECT_EQ(error.GetCallpath(), "Open() of KsBlobFile (" + path + ")");
        EXPECT_FALSE(file.IsOpen());
        EXPECT_EQ(ReadWholeFile(path), bytes) << fault;
    }
}

TEST_F(KsBlobFileTest, AMissingFileIsCreatedAndAddedBlobsAreStoredOnClose) {
    KsBlobFile file(dir.File("table.dat").c_str(), IO_READ);
    EXPECT_EQ(file.GetFileName(), path);
    EXPECT_EQ(file.GetDescriptorOffset() + file.GetFreeListHead() + file.GetUnusedListHead(), 2);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), "");  // closed without changes
    file.Open(path.c_str(), 3);
    EXPECT_EQ(Add(file, "one"), 1);
    EXPECT_EQ(Add(file, ""), 2);
    EXPECT_EQ(Add(file, "three"), 3);
    EXPECT_EQ(file.GetDescriptor(3).offset, -1);  // still in memory
    EXPECT_EQ(Get(file, 3), "three");
    EXPECT_EQ(MessageOf([&] { file.AddBlob("x", -1); }), "Invalid blob size -1");  // no trace
    file.Close();
    // The empty file first became an empty table of its own, which stayed valid until the
    // switch; its 12 bytes are now free (descriptor 4). The empty blob points at offset 4.
    EXPECT_EQ(ReadWholeFile(path),
              Words({24, -1, -1, 0}) + "onethree" +
                  Words({4, -1, 4, 1, 16, 3, 3, 1, 4, 0, 0, 1, 19, 5, 5, -1, 4, -1, 12}));

    file.Open(path.c_str(), 3);
    EXPECT_EQ(file.ChangeReferenceCount(1, 1), 2);
    EXPECT_EQ(file.ChangeReferenceCount(1, -2), 0);
    EXPECT_EQ(MessageOf([&] { Get(file, 1); }), "BLOB 1 is not in use.");
    file.SetDelayedFree();
    EXPECT_EQ(file.ChangeReferenceCount(3, -1), 0);
    file.WriteDescriptors();  // keeps blobs without references while freeing is delayed
    EXPECT_FALSE(file.IsDirty());
    EXPECT_EQ(Get(file, 3), "three");
    EXPECT_EQ(file.ChangeReferenceCount(3, 1) + file.ChangeReferenceCount(3, -1), 1);
    file.ClearDelayedFree();
    // Descriptor 3 went to the unused list and, last in the table, was trimmed.
    EXPECT_EQ(MessageOf([&] { Get(file, 3); }),
              "BLOB 3 is out of range [1, 2] of blob file \"" + path + "\"");
    EXPECT_EQ(file.GetDescriptorOffset(), 4);
    EXPECT_EQ(MessageOf([&] { file.ChangeReferenceCount(2, INT32_MAX); }),
              "Reference count 1 of BLOB 2 cannot change by 2147483647");
    EXPECT_EQ(Add(file, "new"), 1);
    file.Close();
    std::string written = Words({7}) + "new" + Words({-1, -1, 2, 1, 4, 3, 3, 1, 4, 0, 0});
    EXPECT_EQ(ReadWholeFile(path), written);

    file.Open(path.c_str(), IO_READ);
    std::string readOnly = "Blob file \"" + path + "\" is open for reading only";
    EXPECT_EQ(MessageOf([&] { Add(file, "x"); }), readOnly);
    EXPECT_EQ(MessageOf([&] { file.RewriteBlob(1, "x", 1); }), readOnly);
    EXPECT_EQ(MessageOf([&] { file.ChangeReferenceCount(1, 1); }), readOnly);
    EXPECT_EQ(MessageOf([&] { file.FreeDescriptor(1); }), readOnly);
    file.Close();
    EXPECT_EQ(MessageOf([&] { Add(file, "x"); }), "Blob file \"" + path + "\" is not open");
    EXPECT_EQ(ReadWholeFile(path), written);
}

TEST_F(KsBlobFileTest, TheLowestFreedExtentLeadsTheFreeListAndIsFilledFirst) {
    std::vector<std::int32_t> fourBlobs = {-1, -1, 1,  4,  10, 10, 1,  14, 10,
                                           10, 1,  24, 10, 10, 1,  34, 10, 10};
    WriteWholeFile(path, FileOf(kLetters.substr(0, 40), fourBlobs));
    KsBlobFile file(path.c_str(), 3);
    file.FreeDescriptor(3);
    file.FreeDescriptor(1);
    EXPECT_EQ(file.GetFreeListHead(), 1);
    EXPECT_EQ(file.GetDescriptor(1).link, 3);
    file.Close();
    file.Open(path.c_str(), 3);
    std::int32_t added = Add(file, "12345678");
    file.WriteDescriptors();
    EXPECT_EQ(file.GetDescriptor(added).offset, 4);
}

// Each write, flush, truncation, close, rename and delete of a close fails in turn, in full
// or after its first 20 bytes. The file on disk then holds the blobs of before or those of
// after; opened for writing it comes out tidy, and the failed close, tried again, finishes.
TEST_F(KsBlobFileTest, AnInterruptedCloseLeavesTheOldOrTheNewState) {
    using Blobs = std::map<std::int32_t, std::string>;
    std::string copy = dir.File("copy.ksb");
    auto blobsIn = [&](const std::string& bytes) {
        WriteWholeFile(copy, bytes);
        KsBlobFile file(copy.c_str(), 3);
        Blobs blobs;
        for (std::int32_t i = 1; i <= file.GetDescriptorCount(); ++i) {
            file.GetDescriptor(i).HoldsBlob() ? void(blobs[i] = Get(file, i)) : void();
        }
        file.Close();
        ExpectTidy(copy);
        return blobs;
    };
    std::string big(3000, 'B'),
        four = FileOf(kLetters.substr(0, 40),
                      {-1, -1, 1, 4, 10, 10, 1, 14, 10, 10, 1, 24, 10, 10, 0, 34, 10, 10});
    std::vector<std::pair<std::string, std::function<void(KsBlobFile&)>>> changes = {
        {four, [](KsBlobFile& f) { f.FreeAbandonedBlobs(); }},  // the data area shrinks
        {"", [&](KsBlobFile& f) { Add(f, "one"), Add(f, big); }},
        {four,
         [&](KsBlobFile& f) {
             f.SetMemoryBlobLimit(0);  // stores during the session too
             f.FreeDescriptor(1);
             f.RewriteBlob(2, big.data(), 3000);
             Add(f, "new one");
         }},
    };
    for (const auto& [before, change] : changes) {
        kstest::FaultInjectingFactory counting;
        WriteWholeFile(path, before);
        KsBlobFile clean(path.c_str(), 3, counting);
        change(clean);
        counting.Plan().Reset();
        clean.Close();
        Blobs old = blobsIn(before), changed = blobsIn(ReadWholeFile(path));
        int failedCloses = 0;
        for (int op = 0; op < kstest::kFaultOpCount; ++op) {
            for (int nth = 1; nth <= counting.Plan().Calls(kstest::FaultOp(op)) * 2; ++nth) {
                WriteWholeFile(path, before);
                kstest::FaultInjectingFactory failing;
                KsBlobFile file(path.c_str(), 3, failing);
                change(file);
                failing.Plan().Reset();
                failing.Plan().FailShort(kstest::FaultOp(op), (nth + 1) / 2, nth % 2 ? 0 : 20);
                try {
                    file.Close();
                } catch (const KsException&) {
                    ++failedCloses;
                }
                Blobs now = blobsIn(ReadWholeFile(path));
                EXPECT_TRUE(now == old || now == changed) << op << " " << nth;
                file.Close();
                EXPECT_EQ(blobsIn(ReadWholeFile(path)), changed);
            }
        }
        EXPECT_GT(failedCloses, 5);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
    }
}

// A close cut by the power at each of its sync points leaves the old state or the new one;
// the new one once the close returned.
TEST_F(KsBlobFileTest, APowerCutDuringACloseLeavesTheOldOrTheNewState) {
    using Blobs = std::map<std::int32_t, std::string>;
    kstest::TempDir scratch;
    const std::string copy = scratch.File("copy.ksb");
    auto blobsIn = [&](const std::string& bytes) {
        WriteWholeFile(copy, bytes);
        KsBlobFile file(copy.c_str(), 3);
        Blobs blobs;
        for (std::int32_t i = 1; i <= file.GetDescriptorCount(); ++i) {
            file.GetDescriptor(i).HoldsBlob() ? void(blobs[i] = Get(file, i)) : void();
        }
        return blobs;
    };
    const std::string big(3000, 'B'),
        four = FileOf(kLetters.substr(0, 40),
                      {-1, -1, 1, 4, 10, 10, 1, 14, 10, 10, 1, 24, 10, 10, 0, 34, 10, 10});
    auto change = [&](KsIOFactory& factory) {
        KsBlobFile file(path.c_str(), 3, factory);
        file.SetMemoryBlobLimit(0);
        file.FreeDescriptor(1);
        file.RewriteBlob(2, big.data(), 3000);
        Add(file, "new one");
        file.Close();
    };
    const Blobs old = blobsIn(four);
    WriteWholeFile(path, four);
    change(KsIOFactory::Default());
    const Blobs changed = blobsIn(ReadWholeFile(path));
    EXPECT_EQ(changed.size(), 3u);
    WriteWholeFile(path, four);
    const int cuts = kstest::WalkPowerCuts(
        dir.Path().string(), [&](kstest::FaultInjectingFactory& factory) { change(factory); },
        [&](const kstest::PowerCutPoint& cut) {
            SCOPED_TRACE(cut.Describe());
            const Blobs now = blobsIn(ReadWholeFile(path));
            EXPECT_TRUE(now == changed || (!cut.Finished() && now == old));
        });
    EXPECT_GT(cuts, 8);
    RecordProperty("cuts", cuts);
}

// Thousands of random adds, reference changes, rewrites, frees, closes and reopens against
// a plain map; after every close the file is tidy and every live blob reads back.
TEST_F(KsBlobFileTest, RandomChangesMatchAPlainMap) {
    std::mt19937 random(1);
    auto next = [&](std::size_t bound) { return static_cast<std::int32_t>(random() % bound); };
    auto bytes = [&] {  // mostly short, some longer, a few of 6000 bytes
        std::string b(static_cast<std::size_t>(next(20) == 0 ? 6000 : next(next(4) ? 65 : 999)), 0);
        std::generate(b.begin(), b.end(), [&] { return static_cast<char>(random()); });
        return b;
    };
    std::map<std::int32_t, std::pair<std::string, std::int32_t>> live;  // bytes, references
    auto pick = [&] { return std::next(live.begin(), next(live.size()))->first; };
    auto dropAbandoned = [&] { std::erase_if(live, [](auto& e) { return e.second.second < 1; }); };
    bool delayed = false;
    KsBlobFile file(path.c_str(), 3);
    auto closeAndCheck = [&] {
        file.Close();
        dropAbandoned();  // closing frees blobs kept while freeing was delayed
        delayed = false;
        ExpectTidy(path);
        file.Open(path.c_str(), IO_READ);
        for (std::int32_t i = 1; i <= file.GetDescriptorCount(); ++i) {
            EXPECT_EQ(file.GetDescriptor(i).HoldsBlob(), live.count(i) == 1) << i;
        }
        for (const auto& [number, blob] : live) {
            EXPECT_EQ(Get(file, number), blob.first);
            EXPECT_EQ(file.GetDescriptor(number).link, blob.second);
        }
    };
    for (int step = 0; step < 8000 && !HasFailure(); ++step) {
        std::int32_t choice = next(100), n = live.empty() ? 0 : pick();
        if (choice < 30 || live.empty()) {
            std::string b = bytes();
            std::int32_t references = 1 + next(2);
            n = file.AddBlob(b.data(), static_cast<std::int32_t>(b.size()), references);
            EXPECT_EQ(live.count(n), 0u) << "number " << n << " handed out twice";
            live[n] = {b, references};
        } else if (choice < 48) {
            std::int32_t delta = next(4) - 2;
            EXPECT_EQ(file.ChangeReferenceCount(n, delta), live[n].second += delta);
            if (live[n].second < 1 && !delayed) {
                live.erase(n);
            }
        } else if (choice < 58) {
            std::string b = bytes();
            file.RewriteBlob(n, b.data(), static_cast<std::int32_t>(b.size()));
            live[n].first = b;
        } else if (choice < 64) {
            file.FreeDescriptor(n);
            live.erase(n);
        } else if (choice < 67) {
            if (delayed) {
                file.ClearDelayedFree();
                dropAbandoned();
            } else {
                file.SetDelayedFree();
            }
            delayed = !delayed;
        } else if (choice < 70) {
            closeAndCheck();
            file.Open(path.c_str(), 3);
            // A small limit stores blobs in the middle of a session as well as on close.
            file.SetMemoryBlobLimit(next(8000));
        } else {
            EXPECT_EQ(Get(file, n), live[n].first);
        }
    }
    closeAndCheck();
}

}  // namespace
