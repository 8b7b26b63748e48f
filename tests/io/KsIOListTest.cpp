// List files: the header, binding, the allocator's golden layouts, the iterator's locks and
// changes, and the typed lists and lists of lists.

#include "io/KsIOList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KsIOListTestSupport.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::CaughtError;
using kstest::Item;
using kstest::MessageOf;
using kstest::Texts;
using kstest::Words;
using Block = kstest::ListFileImage::Block;
using KsIOListFormat::ListPosition;
using Iterator = KsIOListBase::void_iterator;

class KsIOListTest : public kstest::ListFileTest {
protected:
    KsIOSimpleList<void> raw{file, ListPosition(0)};

    std::vector<Block> FreeBlocks() const { return Image().FreeBlocks(); }
};

TEST_F(KsIOListTest, PrepareFileLeavesOnlyTheHeader) {
    kstest::WriteWholeFile(path, std::string(100, 'x'));
    Prepare(1);
    EXPECT_EQ(kstest::ReadWholeFile(path),
              std::string("ListFile\x1c\x02", 10) + std::string(22, 0));
    Prepare(2);
    EXPECT_EQ(kstest::ReadWholeFile(path),
              std::string("ListFile\x1c\x02", 10) + std::string(30, 0));

    KsException error = CaughtError([&] { Prepare(0); });
    EXPECT_STREQ(error.GetErrorMessage(), "List files require at least one list");
    EXPECT_STREQ(error.GetClassName(), "KsIOSimpleList<void>");
    EXPECT_STREQ(error.GetCallpath(), "PrepareFile() of KsIOSimpleList<void>");
    EXPECT_EQ(file.GetLockEntryCount(), 0);
}

TEST_F(KsIOListTest, BindingChecksTheMarkerAndTheVersion) {
    struct Case {
        std::string bytes;
        const char* message;
    } cases[] = {
        {std::string("NotAList\x1c\x02", 10), "Bound-to file is not a list file"},
        {"ListFil", "Bound-to file is not a list file"},
        {"ListFile\x1c", "Bound-to file is not a list file"},
        {std::string("ListFile\x1d\x02", 10), "List file is of an unsupported version"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        kstest::WriteWholeFile(path, c.bytes);
        KsException error = CaughtError([&] { KsIOList<void>(file, 16); });
        EXPECT_STREQ(error.GetErrorMessage(), c.message);
        EXPECT_STREQ(error.GetClassName(), "KsIOList<void>");
        EXPECT_EQ(error.GetCallpath(), "KsIOList() of KsIOList<void> (" + path + ")");
        error = CaughtError([&] { KsIOListOfLists<void, void>(file, 16); });
        EXPECT_STREQ(error.GetErrorMessage(), c.message);
        EXPECT_EQ(error.GetCallpath(), "KsIOListOfLists() of KsIOList<void> (" + path + ")");
    }
    kstest::WriteWholeFile(path, "");  // an empty file binds, to be prepared
    EXPECT_NO_THROW(KsIOList<void>(file, 16));
    Prepare(1);
    EXPECT_NO_THROW((KsIOListOfLists<void, void>(file, 16)));
    KsIOUnbuffered closed;
    EXPECT_NO_THROW(KsIOList<void>(closed, 16));
}

TEST_F(KsIOListTest, NewBlocksComeFromTheEndAndObjectsTakeWholeGranules) {
    Prepare(1);
    EXPECT_EQ(raw.Allocate(16), 32u);
    EXPECT_EQ(file.GetFileSize64(), 48);
    EXPECT_EQ(raw.AllocateFromEnd(32), 48u);
    EXPECT_EQ(raw.AppendSerializedObject("twelve bytes", 12), 80u);
    EXPECT_EQ(raw.AppendSerializedObject("thirteen byte", 13), 96u);
    std::string bytes = kstest::ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), 128u);
    EXPECT_EQ(bytes.substr(32, 48), std::string(48, 0));
    EXPECT_EQ(bytes.substr(80, 16), std::string("\x10\0\0\0twelve bytes", 16));
    EXPECT_EQ(bytes.substr(96, 17), std::string("\x20\0\0\0thirteen byte", 17));
    EXPECT_EQ(file.GetLockEntryCount(), 0);

    std::pair<std::uint64_t, std::uint64_t> sizes[] = {
        {0, 16}, {12, 16}, {13, 32}, {28, 32}, {29, 48}};
    for (auto [n, size] : sizes) {
        EXPECT_EQ(KsIOListFormat::ObjectBlockSize(n), size) << n;
    }

    KsException error = CaughtError([&] { raw.Allocate(24); });
    EXPECT_STREQ(error.GetErrorMessage(), "Must allocate a multiple of 16 bytes from list");
    EXPECT_STREQ(error.GetClassName(), "KsIOListBase");
    EXPECT_STREQ(error.GetCallpath(), "Allocate() of KsIOListBase");
    EXPECT_EQ(MessageOf([&] { raw.Allocate(0); }), "Cannot allocate 0 bytes from list");
    EXPECT_EQ(MessageOf([&] { raw.Free(32, 24); }),
              "Cannot free blocks unless they are a multiple of 16 bytes");
    EXPECT_EQ(file.GetFileSize64(), 128);
}

TEST_F(KsIOListTest, FreedNeighboursMergeAndTheFreeListAscends) {
    struct Case {
        std::vector<std::uint64_t> frees;
        std::vector<Block> free;
    } cases[] = {
        {{32, 48}, {{32, 32}}},                          // after the block before
        {{48, 32}, {{32, 32}}},                          // before the block after
        {{32, 64, 48}, {{32, 48}}},                      // between two
        {{64, 32}, {{32, 16}, {64, 16}}},                // in front, apart
        {{96, 32, 64}, {{32, 16}, {64, 16}, {96, 16}}},  // in the middle, apart
        {{96, 64, 80}, {{64, 48}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.frees));
        Prepare(1);
        std::vector<Block> used;
        for (std::uint64_t offset = 32; offset < 128; offset += 16) {
            ASSERT_EQ(raw.Allocate(16), offset);
            used.push_back({offset, 16});
        }
        for (std::uint64_t offset : c.frees) {
            raw.Free(offset, 16);
            std::erase(used, Block{offset, 16});
        }
        EXPECT_EQ(FreeBlocks(), c.free);
        ExpectSound({16}, {}, true, used);
    }
}

TEST_F(KsIOListTest, AllocationReusesFreeBlocksFirstFit) {
    Prepare(1);
    for (int i = 0; i < 6; ++i) {
        raw.Allocate(16);  // 32 .. 112
    }
    raw.Free(32, 16);
    raw.Free(48, 16);
    raw.Free(96, 16);
    EXPECT_EQ(raw.Allocate(32), 32u);  // exactly the merged pair
    EXPECT_EQ(FreeBlocks(), (std::vector<Block>{{96, 16}}));
    EXPECT_EQ(Image().Word(16), 96u);

    for (std::uint64_t offset : {48, 64, 80, 32}) {
        raw.Free(offset, 16);  // one block from 32 to 112
    }
    ASSERT_EQ(FreeBlocks(), (std::vector<Block>{{32, 80}}));
    EXPECT_EQ(raw.Allocate(16), 32u);  // the front; the rest stays in the same place
    EXPECT_EQ(FreeBlocks(), (std::vector<Block>{{48, 64}}));
    EXPECT_EQ(raw.Allocate(80), 128u);  // nothing fits: from the end
    EXPECT_EQ(file.GetFileSize64(), 208);
    EXPECT_EQ(file.GetLockEntryCount(), 0);
}

TEST_F(KsIOListTest, FreeingWhatIsNotInUseIsRefusedAndChangesNothing) {
    Prepare(1);
    for (int i = 0; i < 6; ++i) {
        raw.Allocate(16);  // 32 .. 112
    }
    for (std::uint64_t offset : {32, 64, 48, 96}) {
        raw.Free(offset, 16);  // (32, 48) and (96, 16)
    }
    std::string before = kstest::ReadWholeFile(path);
    std::string prefix = "Cannot free 16 bytes at offset ";
    std::string inFile = " of list file \"" + path + "\": ";
    struct Case {
        std::uint64_t offset;
        std::uint64_t size;
        std::string message;
    } cases[] = {
        {32, 16, prefix + "32" + inFile + "part of them is free already"},
        {64, 16, prefix + "64" + inFile + "part of them is free already"},
        {80, 32, "Cannot free 32 bytes at offset 80" + inFile + "part of them is free already"},
        {16, 16, prefix + "16" + inFile + "they are not blocks of the file"},
        {40, 16, prefix + "40" + inFile + "they are not blocks of the file"},
        {112, 32,
         "Cannot free 32 bytes at offset 112" + inFile + "they are not blocks of the file"},
    };
    for (const Case& c : cases) {
        KsException error = CaughtError([&] { raw.Free(c.offset, c.size); });
        EXPECT_EQ(error.GetErrorMessage(), c.message);
        EXPECT_STREQ(error.GetCallpath(), "Free() of KsIOListBase");
    }
    raw.Free(32, 0);  // nothing to free
    EXPECT_EQ(kstest::ReadWholeFile(path), before);
    EXPECT_EQ(file.GetLockEntryCount(), 0);
}

TEST_F(KsIOListTest, RewrittenObjectsStayWhenTheyFitAndMoveWhenTheyGrow) {
    Prepare(1);
    std::string forty(40, 'f');
    ASSERT_EQ(raw.AppendSerializedObject(forty.data(), 40), 32u);  // 48 bytes
    ASSERT_EQ(raw.AppendSerializedObject("fence", 5), 80u);
    EXPECT_EQ(raw.RewriteSerializedObject(32, "tiny", 4), 32u);
    EXPECT_EQ(FreeBlocks(), (std::vector<Block>{{48, 32}}));  // the tail is given back
    EXPECT_EQ(Image().Bytes().substr(32, 8), std::string("\x10\0\0\0tiny", 8));

    std::string sixty(60, 's');
    EXPECT_EQ(raw.RewriteSerializedObject(32, sixty.data(), 60), 96u);  // needs 64 bytes
    EXPECT_EQ(FreeBlocks(), (std::vector<Block>{{32, 48}}));
    EXPECT_EQ(Image().Object(96).substr(0, 60), sixty);
    EXPECT_EQ(raw.RewriteSerializedObject(96, forty.data(), 40), 96u);
    EXPECT_EQ(FreeBlocks(), (std::vector<Block>{{32, 48}, {144, 16}}));

    KsException error = CaughtError([&] { raw.RewriteSerializedObject(40, "x", 1); });
    EXPECT_EQ(error.GetErrorMessage(),
              "List file \"" + path +
                  "\" is damaged at offset 40: the link points to 40, which is not on a block "
                  "boundary");
    EXPECT_STREQ(error.GetCallpath(), "RewriteSerializedObject() of KsIOListBase");
}

TEST_F(KsIOListTest, TypedListsInsertReadRewriteAndErase) {
    Prepare(2);
    KsIOList<Item> list(file, ListPosition(1));
    {
        auto it = list.begin(LOCK_WRITE);
        list.insert(it, {"c"});
        list.insert(it, {"a"});  // the iterator stands on what it inserted
        ++it;
        list.insert(it, {"b"});
        ++it;
        ++it;
        ASSERT_TRUE(it == list.end());
        list.insert(it, {"d"});  // at the end: appended
    }
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_TRUE(Image().Nodes(ListPosition(0)).empty());
    {
        auto it = list.begin(LOCK_WRITE);
        ++it;
        std::uint64_t node = it.GetPosition();
        std::uint64_t object = Image().Word(node);
        it.Write({"b, now much longer than its block"});
        EXPECT_NE(Image().Word(node), object);  // moved, and the node follows
        ++it;
        it.Write({""});
        list.erase(it);  // "d" is next
        EXPECT_EQ((*it).text, "d");
        list.erase(it);
        EXPECT_TRUE(it == list.end());
    }
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "b, now much longer than its block"}));
    ExpectSound({ListPosition(0), ListPosition(1)}, {});
    EXPECT_EQ(file.GetLockEntryCount(), 0);
}

TEST_F(KsIOListTest, IteratorsRefuseWhatTheyCannotDo) {
    Prepare(1);
    KsIOList<Item> list(file, ListPosition(0));
    auto reader = list.begin();
    KsException error = CaughtError([&] { list.insert(reader, {"x"}); });
    EXPECT_STREQ(error.GetErrorMessage(), "Cannot insert through an iterator that only reads");
    EXPECT_STREQ(error.GetCallpath(), "Insert() of KsIOList<void>\r\ninsert() of KsIOList<TYPE>");
    auto nowhere = list.end();
    EXPECT_EQ(MessageOf([&] { list.insert(nowhere, {"x"}); }),
              "Cannot insert through an iterator that is on no list");
    error = CaughtError([&] { ++reader; });
    EXPECT_STREQ(error.GetErrorMessage(), "Cannot advance the end() iterator");
    EXPECT_STREQ(error.GetCallpath(), "operator++ of KsIOListBase::void_iterator");
    EXPECT_EQ(MessageOf([&] { *reader; }), "Cannot read the end() iterator");
    reader.GetVoidIterator().Release();
    auto writer = list.begin(LOCK_WRITE);
    EXPECT_EQ(MessageOf([&] { list.erase(writer); }), "Cannot drop the end() iterator");
    EXPECT_EQ(MessageOf([&] { writer.GetVoidIterator().Drop(); }),
              "Cannot drop the end() iterator");
    EXPECT_EQ(MessageOf([&] { writer.GetVoidIterator().Relocate(64); }),
              "Cannot move the end() iterator");
    list.insert(writer, {"x"});
    EXPECT_EQ(MessageOf([&] { list.begin(); }),
              "Could not establish a READ lock of length 8 at offset 24; WRITE lock already "
              "held! (" +
                  path + ")");
}

TEST_F(KsIOListTest, AnIteratorHoldsItsLinkAndItsNodeHandOverHand) {
    Prepare(1);
    KsIOList<Item> list(file, ListPosition(0));
    {
        auto it = list.begin(LOCK_WRITE);
        list.insert(it, {"b"});
        list.insert(it, {"a"});
    }
    std::vector<std::uint64_t> nodes = Image().Nodes(ListPosition(0));
    ASSERT_EQ(nodes.size(), 2u);
    auto held = [&] {
        std::vector<std::uint64_t> words;
        for (std::uint64_t word :
             {std::uint64_t{24}, nodes[0], nodes[0] + 8, nodes[1], nodes[1] + 8}) {
            if (file.GetLockCount(word, 8) > 0) {
                words.push_back(word);
            }
        }
        return words;
    };
    auto it = list.begin();
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{24, nodes[0]}));
    ++it;
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{nodes[0] + 8, nodes[1]}));
    ++it;  // the end keeps the last link
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{nodes[1] + 8}));
    it.GetVoidIterator().Release();
    EXPECT_EQ(file.GetLockEntryCount(), 0);

    auto writer = list.begin(LOCK_WRITE);
    list.erase(writer);  // stands on "b", through the head
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{24, nodes[1]}));
}

TEST_F(KsIOListTest, ListsOfListsKeepASubListPerElement) {
    Prepare(1);
    using Log = KsIOListOfLists<Item, Item>;
    Log log(file, ListPosition(0));
    {
        auto it = log.begin(LOCK_WRITE);
        log.insert(it, {"second"});
        log.insert(it, {"first"});
        KsIOList<Item> actions = it.SubList();
        auto action = actions.begin(LOCK_WRITE);
        actions.insert(action, {"y"});
        actions.insert(action, {"x"});
    }
    std::vector<std::string> seen;
    for (auto it = log.begin(); it != log.end(); ++it) {
        KsIOList<Item> actions = it.SubList();
        seen.push_back((*it).text + ":");
        for (auto action = actions.begin(); action != actions.end(); ++action) {
            seen.back() += (*action).text;
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"first:xy", "second:"}));
    ExpectSound({}, {ListPosition(0)});
    {
        auto it = log.begin(LOCK_WRITE);
        it.Write({"first, rewritten to a longer text"});
        log.erase(it);  // with its sub-list
    }
    EXPECT_EQ(Texts(log), (std::vector<std::string>{"second"}));
    ExpectSound({}, {ListPosition(0)});
}

TEST_F(KsIOListTest, AReusedSubListHeaderStartsEmpty) {
    Prepare(1);
    for (int i = 0; i < 4; ++i) {
        raw.Allocate(16);  // 32 .. 80
    }
    raw.Free(32, 16);
    raw.Free(64, 16);
    ASSERT_EQ(Image().Word(40), 64u);  // the free block at 32 links to 64
    KsIOListOfLists<Item, Item> log(file, ListPosition(0));
    auto it = log.begin(LOCK_WRITE);
    log.insert(it, {"a text that needs 48 bytes"});  // object at the end, header 32, node 64
    kstest::ListFileImage image = Image();
    EXPECT_EQ(image.Bytes().substr(24, 8), Words({64}));
    EXPECT_EQ(image.Bytes().substr(32, 16), Words({96, 0}));
    EXPECT_EQ(image.Bytes().substr(64, 16), Words({32, 0}));
    KsIOList<Item> actions = it.SubList();
    EXPECT_TRUE(actions.begin() == actions.end());
}

TEST_F(KsIOListTest, NodesMoveAndGraftIntoOtherLists) {
    Prepare(2);
    KsIOList<Item> first(file, ListPosition(0));
    KsIOList<Item> second(file, ListPosition(1));
    {
        auto it = first.begin(LOCK_WRITE);
        for (const char* text : {"c", "b", "a"}) {
            first.insert(it, {text});
        }
    }
    std::uint64_t b = Image().Nodes(ListPosition(0))[1];
    std::uint64_t moved = raw.Allocate(16);
    std::uint64_t copy = raw.Allocate(16);
    {
        Iterator it = raw.begin(LOCK_WRITE);
        ++it;
        it.Relocate(moved);
        EXPECT_EQ(it.GetPosition(), moved);
        EXPECT_EQ(it.GetLinkPosition(), Image().Nodes(ListPosition(0))[0] + 8);
        it.MoveTo(copy);  // a copy that is not linked yet
        KsIOListBase::accessor_lock head(file);
        head.AcquireAt(LOCK_READ, ListPosition(1) + 8);
        EXPECT_EQ(MessageOf([&] { it.GraftAfter(head); }),
                  "Cannot graft a node after a link word that is not locked for writing");
        head.AcquireAt(LOCK_WRITE, ListPosition(1) + 8);
        it.GraftAfter(head);
        EXPECT_EQ(it.GetLinkPosition(), ListPosition(1) + 8);
    }
    raw.Free(b, 16);
    EXPECT_EQ(Texts(second), (std::vector<std::string>{"b"}));
    {
        Iterator it = raw.begin(LOCK_WRITE);
        ++it;
        EXPECT_EQ(it.Drop(), moved);  // the original, now shared with the copy
    }
    raw.Free(moved, 16);
    EXPECT_EQ(Texts(first), (std::vector<std::string>{"a", "c"}));
    ExpectSound({ListPosition(0), ListPosition(1)}, {});
}

}  // namespace
