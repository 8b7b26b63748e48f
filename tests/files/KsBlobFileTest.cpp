#include "files/KsBlobFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BlobFileBytes.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::BlobFileBytes;
using kstest::BrokenBlobFileRule;
using kstest::CaughtError;
using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::Words;
using kstest::WriteWholeFile;

class KsBlobFileTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string table = dir.File("table.dat");
    std::string path = dir.File("table.ksb");

    // Bytes 4, 5, 6, ... of a data area: 'a', 'b', 'c', ... repeating.
    static std::string Data(std::size_t size) {
        std::string data;
        for (std::size_t i = 0; i < size; ++i) {
            data += static_cast<char>('a' + i % 26);
        }
        return data;
    }
    static std::string Get(KsBlobFile& file, std::int32_t number) {
        KsBlob blob;
        file.GetBlob(number, blob);
        EXPECT_EQ(blob.Tell(), 0);
        return std::string(blob.GetData() ? blob.GetData() : "", blob.GetSize());
    }
    static std::int32_t Add(KsBlobFile& file, const std::string& bytes) {
        return file.AddBlob(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    }
};

TEST_F(KsBlobFileTest, AMissingFileIsCreatedBesideTheTableAndStaysEmptyWithoutChanges) {
    {
        KsBlobFile file(table.c_str(), IO_READ);
        EXPECT_EQ(std::string(file.GetFileName()), path);
        EXPECT_EQ(file.GetDescriptorOffset(), 4);
        EXPECT_EQ(file.GetDescriptorCount(), 0);
        EXPECT_EQ(file.GetFreeListHead(), -1);
        EXPECT_EQ(file.GetUnusedListHead(), -1);
    }
    EXPECT_EQ(ReadWholeFile(path), "");
    KsBlobFile file(path.c_str(), IO_READ | IO_WRITE);
    EXPECT_EQ(file.GetDescriptorCount(), 0);
    // A blob added and dropped again leaves the empty table of 16 bytes.
    file.ChangeReferenceCount(Add(file, "gone"), -1);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadWholeFile(path), Words({4, -1, -1, 0}));
}

TEST_F(KsBlobFileTest, ABlobThatReachesTheTableGivesItsSpaceBackOnClose) {
    std::string data = Data(36);
    WriteWholeFile(path, BlobFileBytes(data, -1, -1, {{1, 4, 10, 16}, {0, 20, 5, 20}}));
    KsBlobFile file(table.c_str(), IO_READ | IO_WRITE);
    EXPECT_EQ(file.GetDescriptorOffset(), 40);
    EXPECT_EQ(Get(file, 1), data.substr(0, 10));
    EXPECT_EQ(Get(file, 2), data.substr(16, 5));
    for (std::int32_t number : {0, 3}) {
        auto error = CaughtError<KsBlobNumberOutOfRange>([&] { Get(file, number); });
        EXPECT_EQ(std::string(error.GetErrorMessage()),
                  "BLOB " + std::to_string(number) + " is out of range [1, 2] of blob file \"" +
                      path + "\"");
        EXPECT_STREQ(error.GetCallpath(), ("GetBlob() of KsBlobFile (" + path + ")").c_str());
    }
    EXPECT_THROW(file.FreeDescriptor(3), std::out_of_range);

    file.FreeAbandonedBlobs();
    EXPECT_EQ(file.GetDescriptorOffset(), 20);
    EXPECT_EQ(file.GetDescriptorCount(), 1);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path),
              Words({20}) + data.substr(0, 16) + Words({-1, -1, 1, 1, 4, 10, 16}));
    EXPECT_EQ(ReadWholeFile(path).size(), 48u);
}

TEST_F(KsBlobFileTest, FreeingMergesWithBothNeighboursAndListsTheAbsorbedDescriptors) {
    // Free 1 [14,24), blob 2 [4,14), free 3 [34,44), blob 4 [24,34), unused 5, blob 6 [44,54).
    std::string data = Data(50);
    std::string before = BlobFileBytes(data, 1, 5,
                                       {{3, 14, -1, 10},
                                        {1, 4, 10, 10},
                                        {-1, 34, -1, 10},
                                        {1, 24, 10, 10},
                                        {-1, -1, -1, -1},
                                        {1, 44, 10, 10}});
    WriteWholeFile(path, before);
    {
        KsBlobFile file(path.c_str(), 3);
        // Descriptors without a blob cannot be read or freed, and nothing changes.
        for (std::int32_t number : {1, 5}) {
            std::string message = "BLOB " + std::to_string(number) + " is not in use.";
            EXPECT_EQ(MessageOf([&] { Get(file, number); }), message);
            KsException error = CaughtError([&] { file.FreeDescriptor(number); });
            EXPECT_EQ(error.GetErrorMessage(), message);
            EXPECT_STREQ(error.GetClassName(), "KsBlobFile");
            EXPECT_STREQ(error.GetCallpath(),
                         ("FreeDescriptor() of KsBlobFile (" + path + ")").c_str());
        }
        EXPECT_FALSE(file.IsDirty());
    }
    EXPECT_EQ(ReadWholeFile(path), before);

    KsBlobFile file(path.c_str(), 3);
    file.FreeDescriptor(4);
    EXPECT_EQ(file.GetFreeListHead(), 1);
    EXPECT_EQ(file.GetUnusedListHead(), 3);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), BlobFileBytes(data, 1, 3,
                                                 {{-1, 14, -1, 30},
                                                  {1, 4, 10, 10},
                                                  {4, -1, -1, -1},
                                                  {5, -1, -1, -1},
                                                  {-1, -1, -1, -1},
                                                  {1, 44, 10, 10}}));
}

TEST_F(KsBlobFileTest, TheFirstExtentFreedBecomesTheHeadOfTheFreeList) {
    WriteWholeFile(
        path, BlobFileBytes(Data(26), -1, -1, {{1, 4, 6, 6}, {1, 10, 10, 10}, {1, 20, 10, 10}}));
    KsBlobFile file(path.c_str(), 3);
    file.FreeDescriptor(1);
    EXPECT_EQ(file.GetFreeListHead(), 1);
    const KsBlobDescriptor& freed = file.GetDescriptor(1);
    EXPECT_EQ(std::vector<std::int32_t>({freed.link, freed.offset, freed.length, freed.space}),
              std::vector<std::int32_t>({-1, 4, -1, 6}));
    file.FreeDescriptor(3);
    EXPECT_EQ(file.GetDescriptorOffset(), 20);
    EXPECT_EQ(file.GetDescriptorCount(), 2);
    file.Close();
    EXPECT_EQ(BrokenBlobFileRule(ReadWholeFile(path)), "");
}

TEST_F(KsBlobFileTest, CorruptFilesAreRefusedWithTheFileAndTheFault) {
    struct Case {
        std::string bytes;
        std::string fault;
    };
    std::string ten = Data(10);
    std::vector<Case> cases = {
        {"abc", "it has 3 bytes, fewer than the 16 of an empty table"},
        {Words({2, -1, -1, 0}), "its descriptor table offset 2 lies outside its 16 bytes"},
        {Words({8, -1, -1, 0}), "its descriptor table offset 8 lies outside its 16 bytes"},
        {Words({4, -1, -1, -1}), "-1 descriptors at offset 4 do not fit in its 16 bytes"},
        {Words({4, -1, -1, 0x7FFFFFFF}),
         "2147483647 descriptors at offset 4 do not fit in its 16 bytes"},
        {BlobFileBytes(ten, -1, -1, {{1, 4, 10, 9}}),
         "descriptor 1 (link 1, offset 4, length 10, space 9) is in no valid state"},
        {BlobFileBytes(ten, -1, -1, {{1, 2, 10, 10}}),
         "descriptor 1 (link 1, offset 2, length 10, space 10) is in no valid state"},
        {BlobFileBytes(ten, -1, -1, {{1, 6, 10, 10}}),
         "descriptor 1 (link 1, offset 6, length 10, space 10) is in no valid state"},
        {BlobFileBytes(ten, -1, -1, {{1, 4, 10, 10}, {-1, 4, -2, 3}}),
         "descriptor 2 (link -1, offset 4, length -2, space 3) is in no valid state"},
        {BlobFileBytes(ten, -1, -1, {{1, 4, 10, 10}, {-1, -1, -1, 0}}),
         "descriptor 2 (link -1, offset -1, length -1, space 0) is in no valid state"},
        {BlobFileBytes(ten, -1, -1, {{1, 4, 4, 4}, {1, 6, 2, 2}}),
         "the extents of descriptors 1 and 2 overlap"},
        {BlobFileBytes(ten, 3, -1, {{1, 4, 4, 4}}),
         "its free list links to descriptor 3, outside 1 to 1"},
        {BlobFileBytes(ten, 2, -1, {{1, 4, 2, 2}, {3, 6, -1, 2}, {2, 9, -1, 2}}),
         "its free list goes back or touches at descriptor 2"},
        {BlobFileBytes(ten, 1, -1, {{2, 4, -1, 2}, {-1, 6, -1, 2}, {1, 8, 6, 6}}),
         "its free list goes back or touches at descriptor 2"},
        {BlobFileBytes(ten, 1, -1, {{-1, -1, -1, -1}, {1, 4, 10, 10}}),
         "its free list holds descriptor 1, which has no extent"},
        {BlobFileBytes(ten, -1, -1, {{1, 4, 2, 2}, {-1, 6, -1, 8}}),
         "1 free extents are not on its free list"},
        {BlobFileBytes(ten, -1, 1, {{1, -1, -1, -1}, {1, 4, 10, 10}}),
         "its unused list links to descriptor 1 after 1, out of order or outside 1 to 2"},
        {BlobFileBytes(ten, -1, 2, {{1, 4, 10, 10}, {-1, -1, -1, -1}, {-1, -1, -1, -1}}),
         "1 unused descriptors are not on its unused list"},
        {BlobFileBytes(ten, 1, 1, {{-1, 4, -1, 10}}),
         "its unused list holds descriptor 1, which has an extent"},
    };
    for (const Case& c : cases) {
        WriteWholeFile(path, c.bytes);
        KsBlobFile* opened = nullptr;
        KsException error =
            CaughtError([&] { opened = new KsBlobFile(path.c_str(), IO_READ | IO_WRITE); });
        EXPECT_EQ(opened, nullptr);
        delete opened;
        EXPECT_EQ(error.GetErrorMessage(), "Blob file \"" + path + "\" is corrupt: " + c.fault);
        EXPECT_STREQ(error.GetCallpath(),
                     ("Open() of KsBlobFile (" + path + ")\r\nConstructor of KsBlobFile").c_str());
        EXPECT_EQ(ReadWholeFile(path), c.bytes) << c.fault;
    }
    // A blob on a list is the corruption the lists themselves report.
    WriteWholeFile(path, BlobFileBytes(ten, 1, -1, {{1, 4, 10, 10}}));
    KsException error = CaughtError([&] { KsBlobFile file(path.c_str(), IO_READ); });
    EXPECT_STREQ(error.GetErrorMessage(),
                 "Attempt to link allocated KsBlobDescriptor into KsBlobFile free/unused list.");
    EXPECT_STREQ(error.GetClassName(), "KsBlobDescriptor");
}

TEST_F(KsBlobFileTest, AddedBlobsAreStoredOnCloseAndTheirReferencesCounted) {
    {
        KsBlobFile file(path.c_str(), 3);
        EXPECT_EQ(Add(file, "one"), 1);
        EXPECT_EQ(Add(file, ""), 2);
        EXPECT_EQ(Add(file, "three"), 3);
        EXPECT_EQ(file.GetDescriptor(3).offset, -1);  // still in memory
        EXPECT_EQ(Get(file, 3), "three");
    }
    // The empty file first became an empty table of its own (its 12 bytes are free now), so
    // that it stayed valid until the switch.
    std::string empty = Words({-1, -1, 0});
    EXPECT_EQ(ReadWholeFile(path),
              Words({24}) + empty + "onethree" +
                  Words({4, -1, 4, 1, 16, 3, 3, 1, 4, 0, 0, 1, 19, 5, 5, -1, 4, -1, 12}));

    KsBlobFile file(path.c_str(), 3);
    EXPECT_EQ(file.ChangeReferenceCount(1, 1), 2);
    EXPECT_EQ(file.ChangeReferenceCount(1, -2), 0);
    EXPECT_EQ(MessageOf([&] { Get(file, 1); }), "BLOB 1 is not in use.");
    file.SetDelayedFree();
    EXPECT_EQ(file.ChangeReferenceCount(3, -1), 0);
    file.WriteDescriptors();  // keeps blobs without references while freeing is delayed
    EXPECT_FALSE(file.IsDirty());
    EXPECT_EQ(Get(file, 3), "three");
    EXPECT_EQ(file.ChangeReferenceCount(3, 1), 1);
    EXPECT_EQ(file.ChangeReferenceCount(3, -1), 0);
    file.ClearDelayedFree();
    EXPECT_FALSE(file.IsDelayedFree());
    // Descriptor 3 went back to the unused list and, last in the table, was trimmed.
    EXPECT_EQ(MessageOf([&] { Get(file, 3); }),
              "BLOB 3 is out of range [1, 2] of blob file \"" + path + "\"");
    EXPECT_EQ(file.GetDescriptorCount(), 2);
    EXPECT_EQ(file.GetDescriptorOffset(), 4);
    EXPECT_EQ(MessageOf([&] { file.ChangeReferenceCount(2, INT32_MAX); }),
              "Reference count 1 of BLOB 2 cannot change by 2147483647");
    EXPECT_EQ(Add(file, "new"), 1);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path), Words({7}) + "new" + Words({-1, -1, 2, 1, 4, 3, 3, 1, 4, 0, 0}));
}

TEST_F(KsBlobFileTest, RewritingKeepsTheNumberAndReadOnlyFilesRefuseChanges) {
    {
        KsBlobFile file(path.c_str(), 3);
        Add(file, "short");
        Add(file, "other");
        file.Close();
        file.Open(path.c_str(), 3);
        file.RewriteBlob(1, "much longer", 11);
        EXPECT_EQ(Get(file, 1), "much longer");
        file.RewriteBlob(1, "longest of all", 14);
        EXPECT_EQ(file.ChangeReferenceCount(1, 0), 1);
    }
    std::string written = ReadWholeFile(path);
    EXPECT_EQ(BrokenBlobFileRule(written), "");
    KsBlobFile file(path.c_str(), IO_READ);
    EXPECT_EQ(Get(file, 1), "longest of all");
    EXPECT_EQ(Get(file, 2), "other");
    std::string readOnly = "Blob file \"" + path + "\" is open for reading only";
    EXPECT_EQ(MessageOf([&] { Add(file, "x"); }), readOnly);
    EXPECT_EQ(MessageOf([&] { file.RewriteBlob(1, "x", 1); }), readOnly);
    EXPECT_EQ(MessageOf([&] { file.ChangeReferenceCount(1, 1); }), readOnly);
    file.Close();
    EXPECT_EQ(MessageOf([&] { Add(file, "x"); }), "Blob file \"" + path + "\" is not open");
    EXPECT_EQ(ReadWholeFile(path), written);
}

TEST_F(KsBlobFileTest, SpaceTheFileStillUsesIsReusedOnlyAfterTheClose) {
    // Blobs 1 [4,14), 2 [14,24), 3 [24,34); the table at 34 ends at 94.
    WriteWholeFile(
        path, BlobFileBytes(Data(30), -1, -1, {{1, 4, 10, 10}, {1, 14, 10, 10}, {1, 24, 10, 10}}));
    {
        KsBlobFile file(path.c_str(), 3);
        file.SetMemoryBlobLimit(0);
        file.FreeDescriptor(2);
        std::int32_t added = Add(file, "12345678");
        EXPECT_EQ(file.GetDescriptor(added).offset, 94);  // after the table on disk
    }
    EXPECT_EQ(BrokenBlobFileRule(ReadWholeFile(path)), "");
    KsBlobFile file(path.c_str(), 3);
    file.SetMemoryBlobLimit(0);
    std::int32_t added = Add(file, "abcdefgh");
    EXPECT_EQ(file.GetDescriptor(added).offset, 14);  // first fit, now that it is free on disk
    EXPECT_EQ(Get(file, added), "abcdefgh");
}

TEST_F(KsBlobFileTest, AWritableOpenGivesBackSpaceAfterTheLastBlob) {
    std::string ten = Data(10);
    // Unused space before the table, as a close interrupted between its switches leaves it;
    // and a free extent that reaches the table.
    std::vector<std::string> files = {
        Words({40}) + ten + std::string(26, 'x') + Words({-1, -1, 1, 1, 4, 10, 10}),
        BlobFileBytes(ten + std::string(26, 'x'), 2, -1, {{1, 4, 10, 10}, {-1, 14, -1, 26}}),
    };
    for (const std::string& bytes : files) {
        WriteWholeFile(path, bytes);
        KsBlobFile(path.c_str(), IO_READ).Close();
        EXPECT_EQ(ReadWholeFile(path), bytes);
        KsBlobFile file(path.c_str(), 3);
        EXPECT_EQ(file.GetDescriptorOffset(), 14);
        EXPECT_EQ(Get(file, 1), ten);
        file.Close();
        EXPECT_EQ(ReadWholeFile(path), BlobFileBytes(ten, -1, -1, {{1, 4, 10, 10}}));
    }
}

}  // namespace
