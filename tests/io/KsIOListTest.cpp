// List files: the header, binding, the allocator's golden layouts, the iterator's locks and
// changes, and the typed lists and lists of lists.

#include "io/KsIOList.h"

#include <gtest/gtest.h>

#include "KsIOListTestSupport.h"
#include "support/KsErrorCapture.h"

namespace {

using kstest::Block;
using kstest::CaughtError;
using kstest::Item;
using kstest::MessageOf;
using kstest::Texts;
using kstest::Words;
using Iterator = KsIOListBase::void_iterator;
using Strings = std::vector<std::string>;

class KsIOListTest : public kstest::ListFileTest {
protected:
    KsIOSimpleList<void> raw{file, 16};

    // Allocates 16-byte blocks from 32 to 112 on a fresh file, then frees `frees`.
    void FreeAmongSix(std::initializer_list<std::uint64_t> frees) {
        Prepare(1);
        for (int i = 0; i < 6; ++i) {
            raw.Allocate(16);
        }
        for (std::uint64_t offset : frees) {
            raw.Free(offset, 16);
        }
    }
};

TEST_F(KsIOListTest, HeaderBindingAndNewBlocks) {
    kstest::WriteWholeFile(path, std::string(100, 'x'));
    Prepare(1);
    EXPECT_EQ(Image().bytes, std::string("ListFile\x1c\x02", 10) + std::string(22, 0));
    KsException error = CaughtError([&] { Prepare(0); });
    EXPECT_STREQ(error.GetErrorMessage(), "List files require at least one list");
    EXPECT_STREQ(error.GetCallpath(), "PrepareFile() of KsIOSimpleList<void>");
    EXPECT_EQ(raw.Allocate(16), 32u);
    EXPECT_EQ(file.GetFileSize64(), 48);
    EXPECT_EQ(raw.AppendSerializedObject("twelve bytes", 12), 48u);
    EXPECT_EQ(raw.AppendSerializedObject("thirteen byte", 13), 64u);
    EXPECT_EQ(Image().bytes.substr(32),
              std::string(16, 0) + std::string("\x10\0\0\0twelve bytes", 16) +
                  std::string("\x20\0\0\0thirteen byte", 17) + std::string(15, 0));
    error = CaughtError([&] { raw.Allocate(24); });
    EXPECT_STREQ(error.GetErrorMessage(), "Must allocate a multiple of 16 bytes from list");
    EXPECT_STREQ(error.GetCallpath(), "Allocate() of KsIOListBase");
    EXPECT_EQ(MessageOf([&] { raw.Allocate(0); }), "Cannot allocate 0 bytes from list");
    EXPECT_EQ(MessageOf([&] { raw.Free(32, 24); }),
              "Cannot free blocks unless they are a multiple of 16 bytes");

    for (auto [bytes, message] : {std::pair{std::string("NotAList\x1c\x02", 10), "not a list file"},
                                  {"ListFil", "not a list file"},
                                  {std::string("ListFile\x1d\x02"), "of an unsupported version"}}) {
        kstest::WriteWholeFile(path, bytes);
        std::string expected = message[0] == 'n' ? std::string("Bound-to file is ") + message
                                                 : std::string("List file is ") + message;
        error = CaughtError([&] { KsIOList<void>(file, 16); });
        EXPECT_EQ(error.GetErrorMessage(), expected);
        EXPECT_EQ(error.GetCallpath(), "KsIOList() of KsIOList<void> (" + path + ")");
        error = CaughtError([&] { KsIOListOfLists<void, void>(file, 16); });
        EXPECT_EQ(error.GetCallpath(), "KsIOListOfLists() of KsIOList<void> (" + path + ")");
    }
    kstest::WriteWholeFile(path, "");  // an empty file binds, to be prepared
    EXPECT_NO_THROW(KsIOList<void>(file, 16));
}

TEST_F(KsIOListTest, FreedNeighboursMergeAndAreReusedFirstFit) {
    struct Case {
        std::initializer_list<std::uint64_t> frees;
        std::vector<Block> free;
    } cases[] = {
        {{32, 48}, {{32, 32}}},     {{48, 32}, {{32, 32}}},
        {{32, 64, 48}, {{32, 48}}}, {{64, 32, 96}, {{32, 16}, {64, 16}, {96, 16}}},
        {{96, 64, 80}, {{64, 48}}},
    };
    for (const Case& c : cases) {
        FreeAmongSix(c.frees);
        EXPECT_EQ(Image().FreeBlocks(), c.free);
    }
    FreeAmongSix({32, 48, 96});
    EXPECT_EQ(raw.Allocate(32), 32u);  // exactly the merged pair
    EXPECT_EQ(Image().bytes.substr(16, 8), Words({96}));
    FreeAmongSix({32, 48, 64, 96});
    EXPECT_EQ(raw.Allocate(16), 32u);  // the rest stays free in the same place
    EXPECT_EQ(Image().bytes.substr(16, 8) + Image().bytes.substr(48, 16), Words({48, 32, 96}));
    EXPECT_EQ(raw.Allocate(48), 128u);  // nothing fits: from the end
    ExpectSound({16}, {}, true, {{32, 16}, {80, 16}, {112, 16}, {128, 48}});
}

TEST_F(KsIOListTest, FreeingWhatIsNotInUseIsRefusedAndChangesNothing) {
    FreeAmongSix({32, 64, 48, 96});  // free: 32..80 and 96..112
    std::string before = Image().bytes;
    std::string free = " of list file \"" + path + "\": part of them is free already";
    std::string outside = " of list file \"" + path + "\": they are not blocks of the file";
    for (auto [offset, size, message] :
         {std::tuple{32, 16, "Cannot free 16 bytes at offset 32" + free},
          {64, 16, "Cannot free 16 bytes at offset 64" + free},
          {80, 32, "Cannot free 32 bytes at offset 80" + free},  // into the next free block
          {16, 16, "Cannot free 16 bytes at offset 16" + outside},
          {40, 16, "Cannot free 16 bytes at offset 40" + outside},
          {112, 32, "Cannot free 32 bytes at offset 112" + outside}}) {
        EXPECT_EQ(MessageOf([&] { raw.Free(offset, size); }), message);
    }
    raw.Free(32, 0);
    EXPECT_EQ(Image().bytes, before);
    EXPECT_EQ(file.GetLockEntryCount(), 0);
}

TEST_F(KsIOListTest, TypedListsAndListsOfLists) {
    Prepare(2);
    KsIOList<Item> list(file, 24);
    KsIOListOfLists<Item, Item> log(file, 16);
    {
        auto it = list.begin(LOCK_WRITE);
        for (const char* text : {"d", "b", "a"}) {
            list.insert(it, {text});  // it stands on what it inserted
        }
        ++it;
        list.insert(it, {"c"});
        ++it;
        it.Write({"b, now longer than its block"});
        ++it;
        list.erase(it);
        EXPECT_TRUE(it == list.end());
        list.insert(it, {"e"});  // at the end: appended
    }
    EXPECT_EQ(Texts(list), (Strings{"a", "c", "b, now longer than its block", "e"}));
    {
        auto it = log.begin(LOCK_WRITE);
        log.insert(it, {"t2"});
        log.insert(it, {"t1"});
        KsIOList<Item> actions = it.SubList();
        auto action = actions.begin(LOCK_WRITE);
        actions.insert(action, {"y"});
        actions.insert(action, {"x"});
    }
    Strings seen;
    for (auto it = log.begin(); it != log.end(); ++it) {
        seen.push_back((*it).text + ":");
        for (const Item& action : it.SubList()) {  // `it` keeps the element meanwhile
            seen.back() += action.text;
        }
    }
    EXPECT_EQ(seen, (Strings{"t1:xy", "t2:"}));
    ExpectSound({24}, {16});
    {
        auto it = log.begin(LOCK_WRITE);
        it.Write({"t1, rewritten longer"});
        log.erase(it);  // with its sub-list
    }
    EXPECT_EQ(Texts(log), (Strings{"t2"}));
    ExpectSound({24}, {16});
}

TEST_F(KsIOListTest, AReusedSubListHeaderStartsEmpty) {
    FreeAmongSix({32, 64, 96});
    ASSERT_EQ(Image().Word(72), 96u);  // the free block at 64 links to 96
    KsIOListOfLists<Item, Item> log(file, 16);
    auto it = log.begin(LOCK_WRITE);
    log.insert(it, {"a text that needs 48 bytes"});  // node 32, header 64, object at the end
    EXPECT_EQ(Image().bytes.substr(16, 16), Words({96, 32}));
    EXPECT_EQ(Image().bytes.substr(32, 16), Words({64, 0}));
    EXPECT_EQ(Image().bytes.substr(64, 16), Words({128, 0}));
    EXPECT_EQ(Image().bytes.substr(128, 34),
              std::string("\x30\0\0\0\x1a\0\0\0a text that needs 48 bytes", 34));
    EXPECT_TRUE(it.SubList().begin() == it.SubList().end());
}

TEST_F(KsIOListTest, IteratorsLockHandOverHandAndRefuseWhatTheyCannotDo) {
    Prepare(1);
    KsIOList<Item> list(file, 16);
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
    EXPECT_EQ(MessageOf([&] { list.insert(reader, {"x"}); }),
              "Cannot insert through an iterator that is on no list");
    auto writer = list.begin(LOCK_WRITE);
    EXPECT_EQ(MessageOf([&] { list.erase(writer); }), "Cannot drop the end() iterator");
    EXPECT_EQ(MessageOf([&] { writer.GetVoidIterator().Relocate(64); }),
              "Cannot move the end() iterator");
    list.insert(writer, {"b"});
    list.insert(writer, {"a"});
    writer.GetVoidIterator().Release();

    std::vector<std::uint64_t> a = {Image().Word(24)}, b = {Image().Word(a[0] + 8)};
    auto held = [&] {
        std::vector<std::uint64_t> words;
        for (std::uint64_t word : {std::uint64_t{24}, a[0], a[0] + 8, b[0], b[0] + 8}) {
            if (file.GetLockCount(word, 8) > 0) {
                words.push_back(word);
            }
        }
        return words;
    };
    auto it = list.begin();
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{24, a[0]}));
    EXPECT_EQ(MessageOf([&] { list.begin(LOCK_WRITE); }),  // one process: refused, not waited
              "Could not establish a WRITE lock of length 8 at offset 24; READ lock already "
              "held! (" +
                  path + ")");
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{24, a[0]}));
    ++it;
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{a[0] + 8, b[0]}));
    ++it;  // the end keeps the last link
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{b[0] + 8}));
    it.GetVoidIterator().Release();
    writer = list.begin(LOCK_WRITE);
    KsIOListBase::accessor_lock probe(file);  // a writer's locks exclude readers
    EXPECT_THROW(probe.AcquireAt(LOCK_READ, a[0]), KsException);
    list.erase(writer);  // stands on "b", through the head
    EXPECT_EQ(held(), (std::vector<std::uint64_t>{24, b[0]}));
}

TEST_F(KsIOListTest, NodesMoveAndGraftIntoOtherLists) {
    Prepare(2);
    KsIOList<Item> first(file, 16), second(file, 24);
    auto at = first.begin(LOCK_WRITE);
    for (const char* text : {"c", "b", "a"}) {
        first.insert(at, {text});
    }
    at.GetVoidIterator().Release();
    std::uint64_t b = Image().Nodes(16)[1], moved = raw.Allocate(16), copy = raw.Allocate(16);
    {
        Iterator it = raw.begin(LOCK_WRITE);
        ++it;
        it.Relocate(moved);
        EXPECT_EQ(Image().Nodes(16)[1], moved);
        it.MoveTo(copy);  // a copy that is not linked yet
        KsIOListBase::accessor_lock head(file);
        head.AcquireAt(LOCK_READ, 32);
        EXPECT_EQ(MessageOf([&] { it.GraftAfter(head); }),
                  "Cannot graft a node after a link word that is not locked for writing");
        head.AcquireAt(LOCK_WRITE, 32);
        it.GraftAfter(head);
        EXPECT_EQ(it.GetLinkPosition(), 32u);
    }
    raw.Free(b, 16);
    EXPECT_EQ(Texts(second), (Strings{"b"}));
    Iterator it = raw.begin(LOCK_WRITE);
    ++it;
    EXPECT_EQ(it.Drop(), moved);  // the original, whose object the copy shares now
    it.Release();
    raw.Free(moved, 16);
    EXPECT_EQ(Texts(first), (Strings{"a", "c"}));
    ExpectSound({16, 24}, {});
}

}  // namespace
