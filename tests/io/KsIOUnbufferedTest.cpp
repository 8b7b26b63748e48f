#include "io/KsIOUnbuffered.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/KsIO.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::ErrorOf;
using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

class KsIOUnbufferedTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("direct.bin");
};

// Transfers, seeks and truncation are checked against a byte string by the model test.
TEST_F(KsIOUnbufferedTest, NothingIsHeldBackAndCopiesReopenAtThePosition) {
    KsIOUnbuffered writer(path.c_str(), 27);
    KsIOUnbuffered reader(path.c_str(), IO_READ);
    writer.WriteString("hello world", false);
    EXPECT_EQ(ReadWholeFile(path), "hello world");
    char buffer[12];
    EXPECT_EQ(reader.Read(buffer, 12, false), 11);
    writer.Seek(2, 0);
    KsIOUnbuffered copy(writer);
    EXPECT_EQ(
        (std::vector<std::int64_t>{copy.Tell(), copy.GetFlags(), copy.Clone()->GetFileSize()}),
        (std::vector<std::int64_t>{2, 27, 11}));
    KsIOUnbuffered assigned;
    assigned = writer;
    EXPECT_EQ(assigned.Tell() + writer.CreateNew(path.c_str(), IO_READ)->GetFileSize64(), 13);
    EXPECT_EQ(MessageOf([&] { writer.Truncate(12); }),
              "Attempt to truncate 12 bytes from a file which is 11 bytes long");
    writer.Seek(3, 0);
    writer.Truncate64();
    EXPECT_EQ(writer.Tell64() + writer.GetFileSize64(), 0);
}

TEST_F(KsIOUnbufferedTest, ErrorsNameTheCountAndTheFile) {
    WriteWholeFile(path, "0123456789abcdefghij");
    KsIOUnbuffered file(path.c_str(), IO_READ);
    file.Seek(16, 0);
    char buffer[10];
    EXPECT_EQ(
        ErrorOf([&] { file.Read(buffer, 10, true); }),
        "Unable to read 10 bytes from \"" + path + "\" / KsIOUnbuffered / Read of KsIOUnbuffered");
    file.Seek(16, 0);
    EXPECT_EQ(file.Read(buffer, 10, false), 4);
    EXPECT_EQ(
        MessageOf([&] { file.ReadFrom(16, buffer, 8, true); }),
        "Unable to read 8 bytes from position 16 of file \"" + path + "\"; file length is 20");
    EXPECT_EQ(MessageOf([&] { file.Seek(0, 7); }), "Could not seek");
    EXPECT_EQ(MessageOf([&] { file.Truncate(0); }),
              "Attempt to truncate file \"" + path + "\" without write permission.");
    EXPECT_EQ(ErrorOf([&] { file.Truncate64(); }),
              "Attempt to truncate file \"" + path +
                  "\" without write permission. / KsIO / Truncate64() of KsIOUnbuffered");

    EXPECT_EQ(MessageOf([&] { KsIOUnbuffered(path.c_str(), IO_WRITE).Read(buffer, 1, false); }),
              "Attempt to read from a write-only file");
    KsIOUnbuffered closed;
    EXPECT_EQ(MessageOf([&] { closed.IsEOF(); }), "Cannot check for EOF on unopened file.");
    EXPECT_EQ(MessageOf([&] { closed.Open(path.c_str(), IO_APPEND); }), "Invalid file flags");
    EXPECT_EQ(MessageOf([&] { closed.Open(dir.File("none").c_str(), IO_READ); }),
              "Error in opening file '" + dir.File("none") + "'.  No such file or directory.");
}

TEST_F(KsIOUnbufferedTest, PositionsBeyondFourGibibytesInASparseFile) {
    constexpr std::int64_t kFiveGiB = std::int64_t{5} << 30;
    KsIOUnbuffered file(path.c_str(), 27);
    EXPECT_EQ(file.Seek64Absolute(kFiveGiB), kFiveGiB);
    file.Write("far", 3);
    EXPECT_EQ(file.Tell64(), kFiveGiB + 3);
    EXPECT_EQ(file.GetFileSize64(), kFiveGiB + 3);
    EXPECT_EQ(file.Seek64FromEnd(-3), kFiveGiB);
    char buffer[3];
    EXPECT_EQ(file.Read(buffer, 3, true), 3);
    EXPECT_EQ(std::string(buffer, 3), "far");
    EXPECT_EQ(file.Seek64FromCurrent(-4), kFiveGiB - 1);
    EXPECT_EQ(file.Read(buffer, 2, true), 2);
    EXPECT_EQ(std::string(buffer, 2), std::string("\0f", 2));
    // The 32-bit answers refuse rather than wrap.
    EXPECT_EQ(MessageOf([&] { file.Tell(); }), "KsIOUnbuffered only supports 32-bit offsets");
    EXPECT_EQ(MessageOf([&] { file.ReadFrom(std::uint64_t{1} << 32, buffer, 1, false); }),
              "KsIOUnbuffered only supports 32-bit offsets");
    EXPECT_EQ(MessageOf([&] { file.GetFileSize(); }),
              "This IO object does not support 64-bit files");
    EXPECT_TRUE(
        MessageOf([&] {
            file.Seek64Absolute(-1);
        }).starts_with("Unable to position file pointer of \"" + path + "\" to byte -1 -- "));
    // The buffered file reads the large file but refuses its 32-bit size.
    KsIO buffered(path.c_str(), IO_READ);
    EXPECT_EQ(buffered.GetFileSize64(), kFiveGiB + 3);
    EXPECT_EQ(MessageOf([&] { buffered.GetFileSize(); }),
              "This IO object does not support 64-bit files");
    file.Truncate64(kFiveGiB);
    EXPECT_EQ(file.GetFileSize64(), 3);
}

}  // namespace
