#include "core/KsResizableChunk.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "support/KsErrorCapture.h"

namespace {

using kstest::MessageOf;

std::string Bytes(const KsResizableChunk& c) {
    return std::string(c.GetData(), c.GetChunkSize());
}

TEST(KsResizableChunkTest, ConstructionResizeAndCheckedOffsets) {
    EXPECT_EQ(KsResizableChunk().GetData(), nullptr);
    EXPECT_EQ(Bytes(KsResizableChunk(3u)), std::string(3, '\0'));
    KsResizableChunk c(4, 'a');
    EXPECT_EQ(*c.AsPtrAtOffset<char>(3), 'a');
    EXPECT_STREQ(kstest::CaughtError([&] { c.AsPtrAtOffset<char>(4); }).GetClassName(),
                 "KsResizableChunk");
    EXPECT_EQ(MessageOf([&] { c.AsPtrAtOffset<char>(4); }),
              "index (value=4) is out of range [0, 4]");
    EXPECT_EQ(MessageOf([&] { c.AsPtrAtOffset<char>(0xFFFFFFFFu); }),
              "index (value=-1) is out of range [0, 4]");

    c.ResizeChunk(8, false, 'x');
    EXPECT_EQ(Bytes(c), "aaaaxxxx");
    c.ResizeChunk(6, false, 'y');  // shrinking fills nothing
    EXPECT_EQ(Bytes(c), "aaaaxx");
    c.ResizeChunk(3, true, 'q');
    EXPECT_EQ(Bytes(c), "qqq");
    char* before = c.GetData();
    c.Resize(3);  // same size: nothing happens
    EXPECT_EQ(c.GetData(), before);
    EXPECT_EQ(MessageOf([&] { c.Resize(-1); }), "lNewSize, value -1, must be non-negative.");
    EXPECT_EQ(Bytes(c), "qqq");
    c.Resize(0);
    EXPECT_EQ(c.GetData(), nullptr);
}

TEST(KsResizableChunkTest, CopyFromGrowsAndHandlesOverlap) {
    KsResizableChunk source(6, 'a');
    std::memcpy(source.GetData(), "abcdef", 6);
    KsResizableChunk target(2, '.');
    target.CopyFrom(source, 10, 2, 1);  // 4 bytes fit from offset 2; grows to 5
    EXPECT_EQ(Bytes(target), ".cdef");
    target.CopyFrom(target, 3, 1, 2);  // overlapping ranges in one chunk
    EXPECT_EQ(Bytes(target), ".ccde");
    target.CopyFrom(source, 5, 9, 0);  // offset past the source copies nothing
    EXPECT_EQ(Bytes(target), ".ccde");

    KsResizableChunk copy;
    copy = target;
    copy.GetData()[0] = 'b';
    EXPECT_EQ(Bytes(target), ".ccde");
    copy = copy;
    EXPECT_EQ(Bytes(copy), "bccde");
    std::unique_ptr<KsResizableChunk> clone(target.Clone());
    EXPECT_EQ(Bytes(*clone), ".ccde");
    EXPECT_NE(clone->GetData(), target.GetData());
}

}  // namespace
