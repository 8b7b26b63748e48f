#include "io/KsIO.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::ClassAndMessageOf;
using kstest::ErrorOf;
using kstest::MessageOf;
using kstest::ReadWholeFile;
using kstest::WriteWholeFile;

class KsIOTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("data.bin");

    static std::string ReadAll(KsIOInterface& file, std::int32_t count = 20) {
        std::string bytes(static_cast<std::size_t>(count), '\0');
        bytes.resize(static_cast<std::size_t>(file.Read(bytes.data(), count, false)));
        return bytes;
    }
};

TEST_F(KsIOTest, OpenFailuresNameTheFileAndTheReasonAndLeaveTheOpenFileAlone) {
    KsIO file;
    EXPECT_EQ(
        ErrorOf<KsFileOpenFailedException>([&] { file.Open(path.c_str(), IO_READ); }),
        "Error in opening file '" + path + "'.  No such file or directory. / KsIO / Open of KsIO");
    EXPECT_STREQ(
        CaughtError([&] { KsIO constructed(dir.File("none/x").c_str(), 27); }).GetCallpath(),
        "Open of KsIO\r\nConstructor(char * sFile...) of KsIO");
    EXPECT_EQ(MessageOf([&] { KsIO directory(dir.Path().c_str(), IO_READ); }),
              "Error in opening file '" + dir.Path().string() + "'.  Permission denied.");

    WriteWholeFile(path, "abc");
    file.Open(path.c_str(), IO_READ);
    for (int flags : {0, IO_TEXT, IO_CREATE | IO_TRUNCATE}) {
        EXPECT_EQ(ClassAndMessageOf([&] { file.Open(dir.File("other").c_str(), flags); }),
                  "KsIO: Invalid file flags");
    }
    EXPECT_EQ(MessageOf([&] { file.Open(nullptr, IO_READ); }), "Null pointer to filename");
    EXPECT_EQ(ReadAll(file), "abc");
    // Reopening under its own name works although Close clears the name first.
    file.Open(file.GetFileName(), 3);
    EXPECT_EQ(file.GetFileName() + ReadAll(file), path + "abc");
}

TEST_F(KsIOTest, FlagsDecideCreatingEmptyingAppendingAndAccess) {
    KsIO(path.c_str(), 27).WriteString("record\n", false);
    EXPECT_EQ(ReadWholeFile(path), "record\n");
    EXPECT_EQ(KsIO(path.c_str(), 27).GetFileSize(), 0);
    WriteWholeFile(path, "abc");
    KsIO appending(path.c_str(), IO_READ | IO_WRITE | IO_APPEND);
    EXPECT_EQ(appending.Tell(), 3);
    appending.Write("def", 3);
    appending.Close();
    EXPECT_EQ(ReadWholeFile(path), "abcdef");

    KsIO reader(path.c_str(), IO_READ | IO_APPEND);  // without IO_WRITE it means nothing
    EXPECT_EQ(reader.Tell(), 0);
    EXPECT_EQ(ErrorOf([&] { reader.Write("x", 1); }),
              "Attempt to write to a read-only file / KsIO / Write() of KsIO");
    EXPECT_EQ(MessageOf([&] { reader.WriteTo(0, "x", 1); }),
              "Attempt to write to a read-only file");
    EXPECT_EQ(MessageOf([&] { reader.Truncate(0); }),
              "Attempt to truncate file \"" + path + "\" without write permission.");
    KsIO writer(path.c_str(), 26);
    EXPECT_EQ(ErrorOf([&] { ReadAll(writer); }),
              "Attempt to read from a write-only file / KsIO / Read of KsIO");
}

// Seeks, reads, writes and truncation that succeed are checked against a byte string by
// the model test.
TEST_F(KsIOTest, ReadsAtTheEndFailedSeeksAndTruncationsAndClosedFiles) {
    WriteWholeFile(path, "0123456789abcdefghij");
    KsIO file(path.c_str(), 3);
    file.Seek(16, 0);
    char buffer[10];
    EXPECT_EQ(ClassAndMessageOf([&] { file.Read(buffer, 10, true); }),
              "KsIO: Unable to perform a required read at offset 20 of \"" + path + "\"");
    file.Seek(16, 0);
    EXPECT_EQ(ReadAll(file, 10), "ghij");
    EXPECT_EQ(file.Read(buffer, 10, false) + file.Read(buffer, 0, true), 0);
    EXPECT_EQ(
        MessageOf([&] { file.ReadFrom(15, buffer, 10, true); }),
        "Unable to read 10 bytes from position 15 of file \"" + path + "\"; file length is 20");

    // Failed seeks and truncations move nothing.
    EXPECT_EQ(ErrorOf([&] { file.Seek(0, 3); }), "Invalid seek operation / KsIO / Seek() of KsIO");
    for (auto [offset, origin] : {std::pair{-5, 0}, {-25, 2}}) {
        EXPECT_EQ(MessageOf([&] { file.Seek(offset, origin); }),
                  "Error: Invalid argument, in repositioning file \"" + path + "\" to byte " +
                      std::to_string(offset) + " ");
    }
    file.Seek(2, 0);
    for (int count : {21, -1}) {
        EXPECT_EQ(ErrorOf([&] { file.Truncate(count); }),
                  "Attempt to truncate " + std::to_string(count) +
                      " bytes from a file which is 20 bytes long / KsIO / Truncate() of KsIO");
    }
    EXPECT_EQ(ReadAll(file), "23456789abcdefghij");
    file.Truncate(20);  // every byte
    EXPECT_EQ(file.Tell() + file.GetFileSize(), 0);

    file.Close();
    file.Close();  // harmless when closed
    EXPECT_EQ(MessageOf([&] { ReadAll(file); }), "Attempt to read from a file that is not open");
    EXPECT_EQ(MessageOf([&] { file.Write("x", 1); }),
              "Attempt to write to a file that is not open");
    EXPECT_EQ(MessageOf([&] { file.IsEOF(); }), "Cannot check for EOF on unopened file.");
    EXPECT_EQ(MessageOf([&] { file.Seek(5, 0); }),
              "Error: Bad file handle (-1), in repositioning file \"\" to byte 5 ");
    EXPECT_EQ(file.GetFileSize(), 0);
}

TEST_F(KsIOTest, BufferSizeIsClampedAndPendingBytesCount) {
    KsIO file;
    EXPECT_EQ(file.GetBufferSize(), 8000);
    file.SetBufferSize(10);
    EXPECT_EQ(file.GetBufferSize(), 8000);
    file.SetBufferSize(2000000);
    EXPECT_EQ(file.GetBufferSize(), 1024000);

    file.Open(path.c_str(), 27);
    file.Write("0123456789", 10);
    EXPECT_EQ(file.GetFileSize(), 10);
    EXPECT_EQ(ReadWholeFile(path), "");  // nothing written yet
    file.Flush();
    EXPECT_EQ(ReadWholeFile(path), "0123456789");
    // Writing past the valid bytes keeps what another writer put between them.
    file.Seek(0, 2);
    file.Write("end", 3);  // pending at [10, 13)
    KsIO(path.c_str(), 3).WriteTo(20, "other", 5);
    file.Seek(30, 0);  // inside the buffer, past its valid bytes
    file.Write("Z", 1);
    file.Close();
    EXPECT_EQ(ReadWholeFile(path),
              "0123456789end" + std::string(7, '\0') + "other" + std::string(5, '\0') + "Z");
}

TEST_F(KsIOTest, SixtyFourBitOperationsRefuseLargeValues) {
    KsIO file(path.c_str(), 27);
    const std::int64_t big = std::int64_t{1} << 32;
    EXPECT_EQ(ClassAndMessageOf([&] { file.Seek64Absolute(big); }),
              "KsIOInterface: This IO object does not support 64-bit files");
    EXPECT_EQ(ClassAndMessageOf([&] { file.Truncate64(big); }),
              "KsIO: This IO object does not support 64-bit files");
    EXPECT_EQ(MessageOf([&] { file.Seek64FromEnd(-(big << 8)); }),
              "This IO object does not support 64-bit files");
    EXPECT_EQ(MessageOf([&] { file.ReadFrom(big, nullptr, 1, false); }),
              "KsIO only supports 32-bit offsets");
    EXPECT_EQ(MessageOf([&] { file.WriteTo(big, "x", 1); }), "KsIO only supports 32-bit offsets");
    file.Write("abcdef", 6);
    EXPECT_EQ((std::vector<std::int64_t>{file.Seek64Absolute(2), file.Seek64FromCurrent(1),
                                         file.Seek64FromEnd(-1)}),
              (std::vector<std::int64_t>{2, 3, 5}));
    file.Truncate64(std::int64_t{2});
    EXPECT_EQ(file.GetFileSize64(), 4);
    file.Truncate64();
    EXPECT_EQ(file.GetFileSize64(), 0);
    // The last 32-bit position is still told; the one after it is refused.
    EXPECT_EQ(file.Seek64Absolute(INT32_MAX), INT32_MAX);
    EXPECT_EQ(file.Tell(), INT32_MAX);
    file.Write("x", 1);
    EXPECT_EQ(MessageOf([&] { file.Tell(); }), "KsIO only supports 32-bit offsets");
    file.Truncate64();
}

TEST_F(KsIOTest, CopiesReopenWithoutTruncatingAtTheSamePosition) {
    KsIO original(path.c_str(), 27);
    original.Write("hello world", 11);
    original.Seek(6, 0);
    KsIO copy(original);
    EXPECT_EQ(copy.GetFlags(), 27);
    EXPECT_EQ(ReadAll(copy), "world");
    EXPECT_EQ(original.Clone()->Tell(), 6);
    KsIO assigned;
    assigned = copy;
    assigned = static_cast<KsIO&>(assigned);
    EXPECT_EQ(assigned.Tell(), 11);
    original.Close();
    EXPECT_EQ(ReadWholeFile(path), "hello world");
    EXPECT_FALSE(KsIO(KsIO()).IsOpen());
    EXPECT_TRUE(original.CreateNew(dir.File("new").c_str(), 26)->IsOpen());
    EXPECT_TRUE(KsIOInterface::Exists(dir.File("new").c_str()));

    // A copy of a file that was deleted fails instead of creating it again.
    unlink(path.c_str());
    EXPECT_STREQ(
        CaughtError<KsFileOpenFailedException>([&] { KsIO again(assigned); }).GetCallpath(),
        "Open of KsIO\r\nCopy() of KsIO\r\nCopy constructor() of KsIO");
    EXPECT_FALSE(KsIOInterface::Exists(path.c_str()));
}

TEST_F(KsIOTest, AdoptedDescriptorsPipesAndFiles) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::string lines;  // several buffers, less than a pipe holds
    for (int i = 0; i < 3000; ++i) {
        lines += "line " + std::to_string(i) + "\r\n";
    }
    KsIO out;
    out.OpenDescriptor(fds[1], "standard output", IO_WRITE | IO_TRUNCATE);
    out.WriteString(lines.c_str(), false);
    out.Close();
    close(fds[1]);
    KsIO in;
    in.OpenDescriptor(fds[0], "standard input", IO_READ);
    std::string read;
    for (KsString line; in.ReadLine(line) > 0;) {
        read += line.GetCString() + std::string("\r\n");
    }
    EXPECT_TRUE(read == lines);
    EXPECT_EQ(MessageOf([&] { in.Seek(0, 0); }),
              "Error: Illegal seek on device, in repositioning file \"standard input\" to byte 0 ");
    EXPECT_EQ(MessageOf([&] { KsIO copy(in); }),
              "Cannot reopen \"standard input\": it was not opened by file name");
    in.Close();
    EXPECT_NE(fcntl(fds[0], F_GETFD), -1);  // the adopted descriptor stays open
    close(fds[0]);

    // A file descriptor is used from its own position.
    WriteWholeFile(path, "skip;keep");
    int fd = open(path.c_str(), O_RDWR);
    ASSERT_EQ(lseek(fd, 5, SEEK_SET), 5);
    KsIO file;
    file.OpenDescriptor(fd, "adopted", IO_READ | IO_WRITE | IO_TRUNCATE);
    EXPECT_EQ(ReadAll(file), "keep");
    file.Write("!", 1);
    file.Close();
    close(fd);
    EXPECT_EQ(ReadWholeFile(path), "skip;keep!");
    EXPECT_EQ(MessageOf([&] { file.OpenDescriptor(-1, "nothing", IO_READ); }),
              "Error in opening file 'nothing'.  Bad file descriptor.");
}

// Only the bytes a handle wrote go back to the file: what another handle wrote meanwhile
// elsewhere in the same window, or in the block a far seek loaded, survives.
TEST_F(KsIOTest, OnlyWrittenBytesGoBackToTheFile) {
    const std::vector<std::pair<int, int>> seekAndOtherWrite = {
        {100, 98}, {100, 113}, {4090, 4105}, {70000, 69990}, {77820, 77818}};
    for (auto [seek, otherAt] : seekAndOtherWrite) {
        SCOPED_TRACE(seek);
        std::string expected = kstest::Pattern(77833);
        WriteWholeFile(path, expected);
        KsIO file(path.c_str(), IO_READ | IO_WRITE);
        file.SetBufferSize(64000);
        ASSERT_EQ(file.Seek(seek, 0), seek);
        EXPECT_EQ(ReadAll(file, 10), expected.substr(static_cast<std::size_t>(seek), 10));
        KsIO(path.c_str(), IO_READ | IO_WRITE)
            .WriteTo(static_cast<std::uint64_t>(otherAt), "XY", 2);
        file.Write("123", 3);
        file.Close();
        expected.replace(static_cast<std::size_t>(otherAt), 2, "XY");
        expected.replace(static_cast<std::size_t>(seek) + 10, 3, "123");
        EXPECT_TRUE(ReadWholeFile(path) == expected);
    }
}

}  // namespace
