#include "io/KsBlob.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "io/KsIO.h"
#include "support/KsErrorCapture.h"
#include "support/MemoryStream.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;

std::string Bytes(const KsBlob& blob) {
    return std::string(blob.GetData() ? blob.GetData() : "", blob.GetSize());
}

TEST(KsBlobTest, RefusedOperationsRaiseTheirMessageAndChangeNothing) {
    char buffer[8];
    struct Case {
        std::function<void(KsBlob&)> operation;
        std::string message, function;
    };
    // Each on the blob "abcde" at position 3.
    std::vector<Case> cases = {
        {[&](KsBlob& b) { b.Read(buffer, 4, true); },
         "Could not read 4 bytes at position 3; only 2 bytes in the buffer at that point", "Read"},
        {[&](KsBlob& b) { b.ReadFrom(2, buffer, 4, true); },
         "Could not read 4 bytes at position 2; only 3 bytes in the buffer at that point",
         "ReadFrom"},
        {[&](KsBlob& b) { b.ReadFrom(6, buffer, 0, false); },
         "Offset is past the end of allocated memory", "ReadFrom"},
        {[](KsBlob& b) { b.Seek(-1, 0); }, "Cannot seek to -1 from the beginning of the chunk",
         "Seek"},
        {[](KsBlob& b) { b.Seek(-4, 1); },
         "Cannot seek to -4 from offset 3, before beginning of the chunk", "Seek"},
        {[](KsBlob& b) { b.Seek(-6, 2); },
         "Cannot seek to -6 from end of the chunk, only 5 bytes available", "Seek"},
        {[](KsBlob& b) { b.Seek(0, 3); }, "Unknown offset type : 3", "Seek"},
        {[](KsBlob& b) { b.WriteTo(std::uint64_t{1} << 32, "x", 1); },
         "KsResizableChunk only supports 32-bit offsets", "WriteTo"},
        {[](KsBlob& b) { b.WriteTo(INT32_MAX, "xy", 2); },
         "A memory blob holds at most 2147483647 bytes, not 2147483649", "WriteTo"},
        {[](KsBlob& b) { b.Truncate(6); },
         "Attempt to truncate 6 bytes from a chunk which is 5 bytes long", "Truncate"},
        {[](KsBlob& b) { b.Write("x", -1); }, "Invalid byte count -1 for a memory blob", "Write"},
    };
    for (const Case& c : cases) {
        KsBlob blob("abcde", 5);
        blob.Seek(3, 0);
        KsException error = CaughtError([&] { c.operation(blob); });
        EXPECT_EQ(error.GetErrorMessage(), c.message);
        EXPECT_STREQ(error.GetClassName(), "KsBlob");
        EXPECT_EQ(error.GetCallpath(), c.function + "() of KsBlob");
        EXPECT_EQ(blob.Tell(), 3) << c.message;
        EXPECT_EQ(Bytes(blob), "abcde") << c.message;
    }
}

TEST(KsBlobTest, TransfersMoveThePositionGrowTheBlobAndCopyTheBytes) {
    KsBlob blob;
    char buffer[8] = {};
    EXPECT_EQ(blob.Read(buffer, 4, false), 0);
    EXPECT_EQ(blob.Seek(10, 0), 10);
    blob.Write("xy", 2);
    EXPECT_EQ(blob.Seek(-3, 2), 9);
    EXPECT_EQ(blob.Read(buffer, 8, false), 3);
    EXPECT_EQ(std::string(buffer, 3), std::string("\0xy", 3));
    EXPECT_TRUE(blob.IsEOF());
    EXPECT_EQ(blob.Seek(-12, 1), 0);
    EXPECT_EQ(blob.Seek(20, 1), 20);
    // Positioned transfers leave the position where it is.
    blob.WriteTo(14, "ab", 2);
    blob.WriteTo(1, "Q", 1);
    EXPECT_EQ(Bytes(blob), std::string("\0Q", 2) + std::string(8, 0) + std::string("xy\0\0ab", 6));
    EXPECT_EQ(blob.ReadFrom(15, buffer, 3, false) + blob.ReadFrom(16, buffer, 3, false), 1);
    std::unique_ptr<KsIOInterface> clone = blob.Clone();
    blob.Truncate(6);
    EXPECT_EQ(blob.GetFileSize64() + blob.Tell(), 10);
    EXPECT_EQ(clone->Tell() + clone->GetFileSize(), 36);
    EXPECT_STREQ(clone->GetFileName(), "BLOB()");
    blob.Truncate(0);
    EXPECT_EQ(blob.GetFileSize(), 0);
    std::unique_ptr<KsIOInterface> fresh = blob.CreateNew("ignored", 0);
    EXPECT_EQ(fresh->GetFileSize() + fresh->GetFlags(), 3);
    EXPECT_TRUE(fresh->TryLock(LOCK_WRITE, 0, 0) && fresh->UnLock(LOCK_WRITE, 0, 0));
}

TEST(KsBlobTest, SettersAndStreamsCarryTheBytes) {
    KsBlob blob("abc", 3);
    blob.SetBlob(nullptr, 3);
    EXPECT_EQ(Bytes(blob), std::string(3, '\0'));
    blob.SetBlob("hello", 5);
    kstest::MemoryStream out;
    blob.Write(out);
    EXPECT_EQ(out.Bytes(), "hello");  // the bytes only, no size
    kstest::MemoryStream in(std::string(200000, 'z'));
    blob.Seek(3, 0);
    blob.Read(in, 150000);
    EXPECT_EQ(Bytes(blob), std::string(150000, 'z'));
    EXPECT_EQ(blob.Tell(), 0);
    // A size the stream cannot back fails before taking the memory, and changes nothing;
    // so does a size beyond what a blob holds.
    EXPECT_STREQ(CaughtError([&] { blob.Read(in, INT32_MAX); }).GetCallpath(), "Read() of KsBlob");
    EXPECT_EQ(MessageOf([&] { blob.Read(in, 0x80000000u); }),
              "A memory blob holds at most 2147483647 bytes, not 2147483648");
    EXPECT_EQ(blob.GetSize(), 150000u);
}

// Opens real files and notes what is asked of them.
class RecordingFactory : public KsIOFactory {
public:
    std::vector<std::string> calls;

    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override {
        calls.push_back("Open " + std::to_string(flags));
        return std::make_unique<RecordingFile>(name, flags, calls);
    }

private:
    struct RecordingFile : KsIO {
        RecordingFile(const char* name, int flags, std::vector<std::string>& calls)
            : KsIO(name, flags), log(calls) {}
        void Lock(int type, std::uint64_t offset, std::uint64_t length) override {
            log.push_back("Lock " + std::to_string(type) + " " + std::to_string(length));
            KsIO::Lock(type, offset, length);
        }
        bool UnLock(int type, std::uint64_t offset, std::uint64_t length) override {
            log.push_back("UnLock " + std::to_string(type) + " " + std::to_string(offset));
            return KsIO::UnLock(type, offset, length);
        }
        void Close() override {
            log.push_back("Close");
            KsIO::Close();
        }
        std::vector<std::string>& log;
    };
};

TEST(KsBlobTest, OpenLoadsAWholeFileUnderAReadLockThroughTheFactory) {
    kstest::TempDir dir;
    std::string path = dir.File("data.bin");
    kstest::WriteWholeFile(path, std::string("ab\0cd", 5));
    KsBlob blob("old", 3);
    blob.Seek(2, 0);
    RecordingFactory factory;
    blob.Open(path.c_str(), 0, factory);
    EXPECT_EQ(Bytes(blob), std::string("ab\0cd", 5));
    EXPECT_EQ(blob.GetFileName(), "BLOB(" + path + ")");
    EXPECT_EQ(blob.Tell(), 0);
    EXPECT_EQ(factory.calls,
              (std::vector<std::string>{"Open 769", "Lock 256 0", "UnLock 256 0", "Close"}));
    // A missing file leaves the blob as it was.
    KsException error = CaughtError([&] { blob.Open(dir.File("none").c_str(), 0); });
    EXPECT_EQ(error.GetErrorMessage(),
              "Error in opening file '" + dir.File("none") + "'.  No such file or directory.");
    EXPECT_TRUE(std::string(error.GetCallpath()).ends_with("\r\nOpen() of KsBlob"));
    EXPECT_EQ(Bytes(blob), std::string("ab\0cd", 5));
}

}  // namespace
