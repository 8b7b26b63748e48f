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

KsBlob Of(const std::string& bytes) {
    return KsBlob(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
}

TEST(KsBlobTest, RefusedOperationsRaiseTheirMessageAndLeaveThePositionAlone) {
    struct Case {
        std::string content;
        std::function<void(KsBlob&)> operation;
        std::string message;
        std::string callpath;
    };
    char buffer[8];
    std::vector<Case> cases = {
        {"", [&](KsBlob& b) { b.Read(buffer, 4, true); },
         "Could not read 4 bytes at position 0; only 0 bytes in the buffer at that point",
         "Read() of KsBlob"},
        {"abcde", [&](KsBlob& b) { b.ReadFrom(2, buffer, 4, true); },
         "Could not read 4 bytes at position 2; only 3 bytes in the buffer at that point",
         "ReadFrom() of KsBlob"},
        {"abcde", [&](KsBlob& b) { b.ReadFrom(6, buffer, 1, false); },
         "Offset is past the end of allocated memory", "ReadFrom() of KsBlob"},
        {"", [](KsBlob& b) { b.Seek(-1, 0); }, "Cannot seek to -1 from the beginning of the chunk",
         "Seek() of KsBlob"},
        {"abc", [](KsBlob& b) { b.Seek(-4, 1); },
         "Cannot seek to -4 from offset 3, before beginning of the chunk", "Seek() of KsBlob"},
        {"abc", [](KsBlob& b) { b.Seek(-5, 2); },
         "Cannot seek to -5 from end of the chunk, only 3 bytes available", "Seek() of KsBlob"},
        {"abc", [](KsBlob& b) { b.Seek(0, 3); }, "Unknown offset type : 3", "Seek() of KsBlob"},
        {"abc", [](KsBlob& b) { b.WriteTo(std::uint64_t{1} << 32, "x", 1); },
         "KsResizableChunk only supports 32-bit offsets", "WriteTo() of KsBlob"},
        {"abc", [](KsBlob& b) { b.WriteTo(INT32_MAX, "xy", 2); },
         "A memory blob holds at most 2147483647 bytes, not 2147483649", "WriteTo() of KsBlob"},
        {"abc", [](KsBlob& b) { b.Truncate(4); },
         "Attempt to truncate 4 bytes from a chunk which is 3 bytes long", "Truncate() of KsBlob"},
        {"abc", [](KsBlob& b) { b.Write("x", -1); }, "Invalid byte count -1 for a memory blob",
         "Write() of KsBlob"},
    };
    for (const Case& c : cases) {
        KsBlob blob = Of(c.content);
        blob.Seek(0, 2);
        KsException error = CaughtError([&] { c.operation(blob); });
        EXPECT_EQ(error.GetErrorMessage(), c.message);
        EXPECT_STREQ(error.GetClassName(), "KsBlob");
        EXPECT_EQ(error.GetCallpath(), c.callpath) << c.message;
        EXPECT_EQ(blob.Tell(), static_cast<std::int32_t>(c.content.size())) << c.message;
        EXPECT_EQ(Bytes(blob), c.content) << c.message;
    }
    // The past-the-end message has the position in it, not the end.
    KsBlob blob = Of("ab");
    blob.Seek(1, 0);
    EXPECT_EQ(MessageOf([&] { blob.Read(buffer, 2, true); }),
              "Could not read 2 bytes at position 1; only 1 bytes in the buffer at that point");
    EXPECT_EQ(blob.Tell(), 1);
}

TEST(KsBlobTest, ReadsAndWritesMoveThePositionAndGrowTheBlob) {
    KsBlob blob;
    char buffer[8] = {};
    EXPECT_EQ(blob.Read(buffer, 4, false), 0);
    EXPECT_TRUE(blob.IsEOF());
    EXPECT_EQ(blob.Seek(10, 0), 10);
    blob.Write("xy", 2);
    EXPECT_EQ(Bytes(blob), std::string(10, '\0') + "xy");
    EXPECT_EQ(blob.GetFileSize(), 12);
    EXPECT_EQ(blob.Seek(-3, 2), 9);
    EXPECT_FALSE(blob.IsEOF());
    EXPECT_EQ(blob.Read(buffer, 8, false), 3);
    EXPECT_EQ(std::string(buffer, 3), std::string("\0xy", 3));
    EXPECT_TRUE(blob.IsEOF());
    EXPECT_EQ(blob.Seek(-12, 1), 0);
    EXPECT_EQ(blob.Seek(20, 1), 20);  // beyond the end is allowed
    EXPECT_TRUE(blob.IsEOF());

    // Positioned transfers leave the position where it is.
    blob.WriteTo(14, "ab", 2);
    EXPECT_EQ(Bytes(blob), std::string(10, '\0') + std::string("xy\0\0ab", 6));
    blob.WriteTo(1, "Q", 1);
    EXPECT_EQ(blob.ReadFrom(0, buffer, 3, true), 3);
    EXPECT_EQ(std::string(buffer, 3), std::string("\0Q\0", 3));
    EXPECT_EQ(blob.ReadFrom(16, buffer, 3, false), 0);  // at the end: nothing, no error
    EXPECT_EQ(blob.Tell(), 20);

    blob.Truncate(6);
    EXPECT_EQ(blob.GetFileSize64(), 10);
    EXPECT_EQ(blob.Tell(), 0);
    blob.Truncate(0);
    EXPECT_EQ(blob.GetSize(), 0u);
}

TEST(KsBlobTest, TypedValuesRoundTripThroughTheBlob) {
    KsBlob blob;
    blob.WriteLong(0x01020304);
    blob.WriteCString("hi");
    blob.WriteShort(-2);
    EXPECT_EQ(Bytes(blob), std::string("\x04\x03\x02\x01\x03\0\0\0hi\0\xFE\xFF", 13));
    blob.Seek(0, 0);
    EXPECT_EQ(blob.ReadLong(), 0x01020304);
    char* text = nullptr;
    EXPECT_STREQ(blob.ReadCString(text), "hi");
    delete[] text;
    EXPECT_EQ(blob.ReadShort(), -2);
    EXPECT_THROW(blob.ReadLong(), KsException);
}

TEST(KsBlobTest, CopiesSettersAndStreamsCarryTheBytes) {
    KsBlob blob = Of("abc");
    blob.Seek(2, 0);
    std::unique_ptr<KsIOInterface> clone = blob.Clone();
    blob.WriteTo(0, "X", 1);
    EXPECT_EQ(clone->Tell(), 2);
    EXPECT_EQ(Bytes(static_cast<KsBlob&>(*clone)), "abc");
    EXPECT_STREQ(clone->GetFileName(), "BLOB()");
    std::unique_ptr<KsIOInterface> fresh = blob.CreateNew("ignored", 0);
    EXPECT_EQ(fresh->GetFileSize(), 0);
    EXPECT_EQ(fresh->GetFlags(), 3);
    EXPECT_TRUE(fresh->IsOpen());
    EXPECT_TRUE(fresh->TryLock(LOCK_WRITE, 0, 0));
    EXPECT_TRUE(fresh->UnLock(LOCK_WRITE, 0, 0));

    blob.SetBlob(nullptr, 3);
    EXPECT_EQ(Bytes(blob), std::string(3, '\0'));
    EXPECT_EQ(blob.Tell(), 0);
    blob.SetBlob("hello", 5);
    EXPECT_EQ(Bytes(blob), "hello");

    kstest::MemoryStream out;
    blob.Write(out);
    EXPECT_EQ(out.Bytes(), "hello");  // the bytes only, no size

    kstest::MemoryStream in("0123456789");
    blob.Seek(3, 0);
    blob.Read(in, 4);
    EXPECT_EQ(Bytes(blob), "0123");
    EXPECT_EQ(blob.Tell(), 0);
    // A size the stream cannot back fails without taking the memory first, and changes
    // nothing; so does a size beyond what a blob holds.
    EXPECT_EQ(CaughtError([&] { blob.Read(in, INT32_MAX); }).GetCallpath(),
              std::string("Read() of KsBlob"));
    EXPECT_EQ(MessageOf([&] { blob.Read(in, 0x80000000u); }),
              "A memory blob holds at most 2147483647 bytes, not 2147483648");
    EXPECT_EQ(Bytes(blob), "0123");
    kstest::MemoryStream big(std::string(200000, 'z'));
    blob.Read(big, 150000);
    EXPECT_EQ(Bytes(blob), std::string(150000, 'z'));
}

// Opens real files but records what the blob asks of them.
class RecordingFactory : public KsIOFactory {
public:
    std::vector<std::string> calls;

    std::unique_ptr<KsIOInterface> Open(const char* name, int flags) override {
        calls.push_back("Open(" + std::to_string(flags) + ")");
        return std::make_unique<RecordingFile>(name, flags, calls);
    }

private:
    class RecordingFile : public KsIO {
    public:
        RecordingFile(const char* name, int flags, std::vector<std::string>& calls)
            : KsIO(name, flags), calls_(calls) {}
        void Lock(int type, std::uint64_t offset, std::uint64_t length) override {
            calls_.push_back(Describe("Lock", type, offset, length));
            KsIO::Lock(type, offset, length);
        }
        bool UnLock(int type, std::uint64_t offset, std::uint64_t length) override {
            calls_.push_back(Describe("UnLock", type, offset, length));
            return KsIO::UnLock(type, offset, length);
        }
        void Close() override {
            calls_.push_back("Close");
            KsIO::Close();
        }

    private:
        static std::string Describe(const char* what, int type, std::uint64_t offset,
                                    std::uint64_t length) {
            return std::string(what) + "(" + std::to_string(type) + "," + std::to_string(offset) +
                   "," + std::to_string(length) + ")";
        }
        std::vector<std::string>& calls_;
    };
};

TEST(KsBlobTest, OpenLoadsAWholeFileUnderAReadLockThroughTheFactory) {
    kstest::TempDir dir;
    std::string path = dir.File("data.bin");
    kstest::WriteWholeFile(path, std::string("ab\0cd", 5));
    KsBlob blob = Of("old");
    blob.Seek(2, 0);
    RecordingFactory factory;
    blob.Open(path.c_str(), 0, factory);
    EXPECT_EQ(Bytes(blob), std::string("ab\0cd", 5));
    EXPECT_STREQ(blob.GetFileName(), ("BLOB(" + path + ")").c_str());
    EXPECT_EQ(blob.Tell(), 0);
    EXPECT_EQ(factory.calls,
              (std::vector<std::string>{"Open(769)", "Lock(256,0,0)", "UnLock(256,0,0)", "Close"}));

    // A missing file leaves the blob as it was.
    KsException error = CaughtError([&] { blob.Open(dir.File("none").c_str(), 0); });
    EXPECT_EQ(error.GetErrorMessage(),
              "Error in opening file '" + dir.File("none") + "'.  No such file or directory.");
    EXPECT_TRUE(std::string(error.GetCallpath()).ends_with("\r\nOpen() of KsBlob"));
    EXPECT_EQ(Bytes(blob), std::string("ab\0cd", 5));
    kstest::WriteWholeFile(path, "");
    blob.Open(path.c_str(), 0);
    EXPECT_EQ(blob.GetSize(), 0u);
}

}  // namespace
