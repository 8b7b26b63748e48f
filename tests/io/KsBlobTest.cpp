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

TEST(KsBlobTest, RefusedOperationsRaiseTheirMessageAndChangeNothing) {
    KsBlob blob;
    char buffer[8];
    kstest::MemoryStream in(std::string(200000, 'z'));
    const std::string unread = "Could not read 4 bytes at position ",
                      inBuffer = " bytes in the buffer";
    // Each on the blob "abcde" at position 3: the function that fails, then its message.
    std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { blob.Read(buffer, 4, true); },
         "Read: " + unread + "3; only 2" + inBuffer + " at that point"},
        {[&] { blob.ReadFrom(2, buffer, 4, true); },
         "ReadFrom: " + unread + "2; only 3" + inBuffer + " at that point"},
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
        {[&] { blob.WriteTo(INT32_MAX, "xy", 2); },
         "WriteTo: A memory blob holds at most 2147483647 bytes, not 2147483649"},
        {[&] { blob.Truncate(6); },
         "Truncate: Attempt to truncate 6 bytes from a chunk which is 5 bytes long"},
        {[&] { blob.Write("x", -1); }, "Write: Invalid byte count -1 for a memory blob"},
        {[&] { blob.Read(in, 0x80000000u); },
         "Read: A memory blob holds at most 2147483647 bytes, not 2147483648"},
        // Memory is taken as the stream delivers: it runs out first.
        {[&] { blob.Read(in, INT32_MAX); },
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

TEST(KsBlobTest, TransfersMoveThePositionAndGrowTheBlob) {
    KsBlob blob;
    char buffer[8] = {};
    EXPECT_EQ(blob.Read(buffer, 4, false), 0);
    EXPECT_EQ(blob.Seek(10, 0), 10);
    blob.Write("xy", 2);
    EXPECT_EQ(blob.Seek(-3, 2), 9);
    EXPECT_EQ(blob.Read(buffer, 8, false), 3);
    EXPECT_EQ(std::tuple(std::string(buffer, 3), blob.IsEOF()),
              std::tuple(std::string("\0xy", 3), true));
    EXPECT_EQ(blob.Seek(-12, 1), 0);
    EXPECT_EQ(blob.Seek(20, 1), 20);
    blob.WriteTo(14, "ab", 2);  // positioned transfers leave the position
    blob.WriteTo(1, "Q", 1);
    EXPECT_EQ(Bytes(blob), std::string("\0Q", 2) + std::string(8, 0) + std::string("xy\0\0ab", 6));
    EXPECT_EQ(std::tuple(blob.ReadFrom(15, buffer, 3, false), blob.ReadFrom(16, buffer, 3, false),
                         blob.Tell()),
              std::tuple(1, 0, 20));
    std::unique_ptr<KsIOInterface> clone = blob.Clone();
    blob.Truncate(6);
    EXPECT_EQ(std::tuple(blob.GetFileSize64(), blob.Tell(), clone->GetFileSize(), clone->Tell()),
              std::tuple(10, 0, 16, 20));
    EXPECT_STREQ(clone->GetFileName(), "BLOB()");
    blob.Truncate(0);
    std::unique_ptr<KsIOInterface> fresh = blob.CreateNew("ignored", 0);
    EXPECT_EQ(std::tuple(blob.GetFileSize(), fresh->GetFileSize(), fresh->GetFlags()),
              std::tuple(0, 0, 3));
    EXPECT_TRUE(fresh->TryLock(LOCK_WRITE, 0, 0) && fresh->UnLock(LOCK_WRITE, 0, 0));
    blob.SetBlob(nullptr, 3);
    EXPECT_EQ(Bytes(blob), std::string(3, '\0'));
    kstest::MemoryStream in(std::string(150000, 'z')), out;
    blob.Seek(3, 0);
    blob.Read(in, 150000);  // more than the first step of memory
    EXPECT_EQ(std::tuple(Bytes(blob), blob.Tell()), std::tuple(std::string(150000, 'z'), 0));
    blob.SetBlob("hello", 5);
    blob.Write(out);
    EXPECT_EQ(out.Bytes(), "hello");  // the bytes only, no size
}

// Opens real files, noting the flags and the locks asked of them.
struct RecordingFactory : KsIOFactory {
    struct File : KsIO {
        File(const char* name, int flags, std::string& calls) : KsIO(name, flags), log(calls) {}
        void Lock(int type, std::uint64_t offset, std::uint64_t length) override {
            log += " Lock " + std::to_string(type) + " " + std::to_string(offset) + "+" +
                   std::to_string(length);
            KsIO::Lock(type, offset, length);
        }
        std::string& log;
    };
    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override {
        log += "Open " + std::to_string(flags);
        return std::make_unique<File>(name, flags, log);
    }
    std::string log;
};

TEST(KsBlobTest, OpenLoadsAWholeFileUnderAReadLockThroughTheFactory) {
    kstest::TempDir dir;
    std::string path = dir.File("data.bin"), missing = dir.File("none");
    kstest::WriteWholeFile(path, std::string("ab\0cd", 5));
    KsBlob blob("old", 3);
    blob.Seek(2, 0);
    RecordingFactory factory;
    blob.Open(path.c_str(), 0, factory);
    EXPECT_EQ(
        std::tuple(Bytes(blob), std::string(blob.GetFileName()), blob.Tell(), factory.log),
        std::tuple(std::string("ab\0cd", 5), "BLOB(" + path + ")", 0, "Open 769 Lock 256 0+0"));
    KsException error = CaughtError([&] { blob.Open(missing.c_str(), 0); });
    EXPECT_EQ(error.GetErrorMessage(),
              "Error in opening file '" + missing + "'.  No such file or directory.");
    EXPECT_TRUE(std::string(error.GetCallpath()).ends_with("\r\nOpen() of KsBlob"));
    EXPECT_EQ(Bytes(blob), std::string("ab\0cd", 5));  // a failed Open changes nothing
}

}  // namespace
