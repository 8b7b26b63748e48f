// Memory blobs: refused operations with their messages, transfers that move the position and
// grow the blob, and loading a whole file through the factory under a read lock.

#include "io/KsBlob.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "io/KsIO.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;

std::string Bytes(const KsBlob& blob) {
    return std::string(blob.GetData(), blob.GetSize());
}

TEST(KsBlobTest, TransfersMoveThePositionAndGrowTheBlobOrRaiseTheirMessage) {
    KsBlob blob;
    char buffer[8] = {};
    EXPECT_EQ((std::tuple{blob.Read(buffer, 4, false), blob.Seek(10, 0)}), std::tuple(0, 10));
    blob.Write("xy", 2);
    EXPECT_EQ((std::tuple{blob.Seek(-3, 2), blob.Read(buffer, 8, false), std::string(buffer, 3),
                          blob.IsEOF(), blob.Seek(-12, 1), blob.Seek(20, 1)}),
              std::tuple(9, 3, std::string("\0xy", 3), true, 0, 20));
    blob.WriteTo(14, "ab", 2);  // positioned transfers leave the position
    blob.WriteTo(1, "Q", 1);
    std::unique_ptr<KsIOInterface> clone = blob.Clone();
    EXPECT_EQ((std::tuple{Bytes(blob), blob.ReadFrom(15, buffer, 3, false),
                          blob.ReadFrom(16, buffer, 3, false), blob.Tell(), clone->Tell(),
                          std::string(clone->GetFileName())}),
              std::tuple(std::string("\0Q\0\0\0\0\0\0\0\0xy\0\0ab", 16), 1, 0, 20, 20, "BLOB()"));
    blob.Truncate(6);  // takes 6 bytes off the end
    EXPECT_EQ(std::tuple(Bytes(blob), blob.Tell(), clone->GetFileSize()),
              std::tuple(std::string("\0Q\0\0\0\0\0\0\0\0", 10), 0, 16));
    blob.Truncate(0);
    blob.SetBlob(nullptr, 3);
    EXPECT_EQ(Bytes(blob), std::string(3, '\0'));
    kstest::MemoryStream in(std::string(150000, 'z')), out;
    blob.Seek(3, 0);
    blob.Read(in, 150000);  // more than the first step of memory
    EXPECT_EQ(std::tuple(Bytes(blob), blob.Tell()), std::tuple(std::string(150000, 'z'), 0));
    blob.SetBlob("hello", 5);
    blob.Write(out);
    EXPECT_EQ(out.Bytes(), "hello");  // the bytes only, no size
    kstest::MemoryStream huge(std::string(200000, 'z'));
    const std::string unread = "Could not read 4 bytes at position ",
                      inBuffer = " bytes in the buffer at that point",
                      most = "A memory blob holds at most 2147483647 bytes, not ";
    // Each on the blob "abcde" at position 3: the function that fails, then its message.
    std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { blob.Read(buffer, 4, true); }, "Read: " + unread + "3; only 2" + inBuffer},
        {[&] { blob.ReadFrom(2, buffer, 4, true); },
         "ReadFrom: " + unread + "2; only 3" + inBuffer},
        {[&] { blob.ReadFrom(6, buffer, 0, false); },
         "ReadFrom: Offset is past the end of allocated memory"},
        {[&] { blob.Seek(-1, 0); }, "Seek: Cannot seek to -1 from the beginning of the chunk"},
        {[&] { blob.Seek(-4, 1); },
         "Seek: Cannot seek to -4 from offset 3, before beginning of the chunk"},
        {[&] { blob.Seek(-6, 2); },
         "Seek: Cannot seek to -6 from end of the chunk, only 5 bytes available"},
        {[&] { blob.Seek(0, 3); }, "Seek: Unknown offset type : 3"},
        {[&] { blob.WriteTo(std::uint64_t{1} << 32, "x", 1); },
         "WriteTo: KsResizableChunk only supports 32-bit offsets"},
        {[&] { blob.WriteTo(INT32_MAX, "xy", 2); }, "WriteTo: " + most + "2147483649"},
        {[&] { blob.Truncate(6); },
         "Truncate: Attempt to truncate 6 bytes from a chunk which is 5 bytes long"},
        {[&] { blob.Write("x", -1); }, "Write: Invalid byte count -1 for a memory blob"},
        {[&] { blob.Read(huge, 0x80000000u); }, "Read: " + most + "2147483648"},
        // Memory is taken as the stream delivers: it runs out first.
        {[&] { blob.Read(huge, INT32_MAX); },
         "Read: Unable to perform a required read at offset 200000 of \"memory\""},
    };
    for (auto [operation, expected] : cases) {
        blob.SetBlob("abcde", 5);
        blob.Seek(3, 0);
        KsException error = CaughtError(operation);
        expected.insert(expected.find(':'), "() of KsBlob");
        EXPECT_EQ(error.GetCallpath() + std::string(": ") + error.GetErrorMessage(), expected);
        EXPECT_EQ(std::tuple(Bytes(blob), blob.Tell()), std::tuple("abcde", 3)) << expected;
    }
}

// What the files of a RecordingFactory were asked: their flags, then each lock's type, offset
// and length.
std::vector<std::uint64_t> calls;
struct RecordingFactory : KsIOFactory {
    struct File : KsIO {
        using KsIO::KsIO;
        void Lock(int type, std::uint64_t offset, std::uint64_t length) override {
            calls.insert(calls.end(), {static_cast<std::uint64_t>(type), offset, length});
            KsIO::Lock(type, offset, length);
        }
    };
    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override {
        calls.push_back(static_cast<std::uint64_t>(flags));
        return std::make_unique<File>(name, flags);
    }
};

TEST(KsBlobTest, OpenLoadsAWholeFileUnderAReadLockThroughTheFactory) {
    kstest::TempDir dir;
    std::string path = dir.File("data.bin"), missing = dir.File("none");
    kstest::WriteWholeFile(path, std::string("ab\0cd", 5));
    KsBlob blob("old", 3);
    blob.Seek(2, 0);
    RecordingFactory factory;
    blob.Open(path.c_str(), 0, factory);
    EXPECT_EQ(std::tuple(Bytes(blob), std::string(blob.GetFileName()), blob.Tell(), calls),
              std::tuple(std::string("ab\0cd", 5), "BLOB(" + path + ")", 0,
                         std::vector<std::uint64_t>{IO_READ | 0x300, LOCK_READ, 0, 0}));
    KsException error = CaughtError([&] { blob.Open(missing.c_str(), 0); });
    EXPECT_EQ(std::tuple(std::string(error.GetErrorMessage()),
                         std::string(error.GetCallpath()).ends_with("\r\nOpen() of KsBlob"),
                         Bytes(blob)),  // a failed Open changes nothing
              std::tuple("Error in opening file '" + missing + "'.  No such file or directory.",
                         true, std::string("ab\0cd", 5)));
}

}  // namespace
