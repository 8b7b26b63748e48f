// List files: their exact bytes, the allocator's reuse, damaged files and refused calls, the
// iterator's locks, the page cache, and thousands of random changes (against a model, with failing
// writes, from several processes at once), each followed by a walk of the bytes made without
// the list classes.

#include "io/KsIOList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <tuple>

#include "core/KsByteOrder.h"
#include "io/KsIOListCache.h"
#include "io/KsIOListWords.h"
#include "io/KsIOLockGuard.h"
#include "io/KsIOUnbuffered.h"
#include "support/ChildProcess.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/TempDir.h"

namespace {

using kstest::CaughtError;
using kstest::MessageOf;
using Offsets = std::vector<std::uint64_t>;

// An element that stores its text with a 32-bit length in front.
struct Item {
    std::string text;

    void Read(KsInputStreamInterface& in) {
        text.assign(std::min(in.ReadUnsignedLong(), 4096u), '\0');  // whatever a torn length says
        in.Read(text.data(), static_cast<std::int32_t>(text.size()), true);
    }
    void Write(KsOutputStreamInterface& out) const {
        out.WriteUnsignedLong(static_cast<std::uint32_t>(text.size()));
        out.Write(text.data(), static_cast<std::int32_t>(text.size()));
    }
};
using Log = KsIOListOfLists<Item, Item>;

// An element's text and, in a list of lists, those of its sub-list.
struct Element {
    std::string text;
    std::vector<Element> sub = {};
    bool operator==(const Element&) const = default;
};
using Elements = std::vector<Element>;
struct Block {
    std::uint64_t offset, size;
};

// The bytes of a list file, read without the list classes.
struct ListImage {
    std::string bytes;
    bool sound = true;  // every word read lay in the file and every list ended

    std::uint64_t Word(std::uint64_t at) {
        sound = sound && at + 8 <= bytes.size();
        return sound ? KsByteOrder::LoadLittle<std::uint64_t>(bytes.data() + at) : 0;
    }
    // The nodes of the list whose pseudo-node is at `position` (8: the free list).
    Offsets Nodes(std::uint64_t position) {
        Offsets nodes;
        for (std::uint64_t at = Word(position + 8); at != 0 && sound; at = Word(at + 8)) {
            nodes.push_back(at);
            sound = nodes.size() <= bytes.size() / 16;
        }
        return nodes;
    }
    // The free blocks as offset, size, offset, size, ...
    Offsets FreeList() {
        Offsets blocks;
        for (std::uint64_t node : Nodes(8)) {
            blocks.insert(blocks.end(), {node, Word(node)});
        }
        return blocks;
    }
    // The elements of a list of Items (`ofLists`: with sub-lists); adds its blocks to `used`.
    Elements Walk(std::uint64_t position, bool ofLists, std::vector<Block>& used) {
        Elements elements;
        for (std::uint64_t node : Nodes(position)) {
            std::uint64_t object = Word(node);
            elements.push_back({"", ofLists ? Walk(object, false, used) : Elements()});
            used.push_back({node, 16});
            if (ofLists) {
                used.push_back({object, 16});
                object = Word(object);
            }
            used.push_back({object, Word(object) & 0xFFFFFFFF});
            std::uint64_t text = std::min<std::uint64_t>(object + 8, bytes.size());
            elements.back().text = bytes.substr(text, Word(object + 4) & 0xFFFFFFFF);
        }
        return elements;
    }
};

class KsIOListTest : public ::testing::Test {
protected:
    kstest::TempDir dir;
    std::string path = dir.File("list.klg");
    KsIOUnbuffered file{path.c_str(), IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE};
    KsIOSimpleList<void> raw{file, 16};
    std::mt19937 random{20240611};
    Elements model;  // of list 0, a list of lists

    ListImage Image() const { return {kstest::ReadWholeFile(path)}; }
    // The elements of lists 0, 1, ... (`ofLists[k]`: list k is a list of lists). The lists
    // and the free list must end, the free list ascend without touching blocks, and the
    // free and listed blocks neither overlap nor leave the file nor, with `exact`, leave any
    // of it out.
    std::vector<Elements> Contents(const std::vector<bool>& ofLists, bool exact = true) const {
        ListImage image = Image();
        std::vector<Block> used;
        std::vector<Elements> lists;
        for (std::size_t k = 0; k < ofLists.size(); ++k) {
            lists.push_back(image.Walk(KsIOListFormat::ListPosition(k), ofLists[k], used));
        }
        Offsets free = image.FreeList();
        std::uint64_t end = 0;
        for (std::size_t i = 0; i < free.size(); i += 2) {
            image.sound = image.sound && free[i] > end;  // ascending, never touching
            used.push_back({free[i], free[i + 1]});
            end = free[i] + free[i + 1];
        }
        std::sort(used.begin(), used.end(), [](auto& a, auto& b) { return a.offset < b.offset; });
        std::uint64_t covered = end = KsIOListFormat::HeaderSize(ofLists.size());
        for (const Block& block : used) {
            image.sound = image.sound && block.offset >= end && block.size % 16 == 0 && block.size;
            end = block.offset + block.size;
            covered += block.size;
        }
        EXPECT_TRUE(image.sound && end <= image.bytes.size() &&
                    (!exact || covered == image.bytes.size()))
            << used.size() << " blocks, ending at " << end << ", in " << image.bytes.size();
        return lists;
    }
    // The list "a", "b": node b at 32 with its object at 48, node a at 64 with its object at
    // 80, the head (24) linking 64, which links 32; blocks of 16 in use at 112 and 144, free
    // at 96 and 128.
    KsIOList<Item> TwoItems() {
        raw.PrepareFile(1);
        KsIOList<Item> list(file, 16);
        auto it = list.begin(LOCK_WRITE);
        list.insert(it, {"b"});
        list.insert(it, {"a"});
        it.GetVoidIterator().Release();
        EXPECT_EQ(raw.Allocate(64), 96u);
        raw.Free(96, 16);
        raw.Free(128, 16);
        return list;
    }
    std::size_t Below(std::size_t n) { return n == 0 ? 0 : random() % n; }
    // Inserts, erases or rewrites an element, or changes the sub-list of one; `elements`
    // changes first, so that it holds what the file should hold when the change fails.
    template <class List>
    void Change(List list, Elements& elements, std::size_t kind) {
        std::size_t index = Below(elements.size() + 1);
        auto it = list.begin(LOCK_WRITE);
        for (std::size_t i = 0; i < index; ++i) {
            ++it;
        }
        auto at = elements.begin() + static_cast<std::ptrdiff_t>(index);
        std::string text(Below(100), static_cast<char>('a' + Below(26)));
        if (kind <= 2 && elements.size() < 30) {
            elements.insert(at, {text});
            list.insert(it, {text});
            EXPECT_EQ((*it).text, text);  // it stands on what it inserted
        } else if (at == elements.end()) {
        } else if (kind == 3) {
            elements.erase(at);
            list.erase(it);  // with its sub-list
            EXPECT_EQ(it == list.end(), index == elements.size());
        } else if (kind == 4) {
            at->text = text;
            it.Write({text});
        } else if constexpr (std::is_same_v<List, Log>) {
            Change(it.SubList(), at->sub, Below(5));
        }
    }
};

TEST_F(KsIOListTest, BindingAndTheBytesOfANewFile) {
    EXPECT_NO_THROW(KsIOList<void>(file, 16));  // an empty file binds, to be prepared
    const std::string notList = "Bound-to file is not a list file";
    for (auto [bytes, message] :
         {std::pair<std::string, std::string>{std::string("NotAList\x1c\x02", 10), notList},
          {"ListFil", notList},
          {"ListFile\x1d\x02", "List file is of an unsupported version"}}) {
        kstest::WriteWholeFile(path, bytes);
        KsException error = CaughtError([&] { KsIOList<void>(file, 16); });
        EXPECT_EQ(error.GetErrorMessage() + std::string("|") + error.GetCallpath(),
                  message + "|KsIOList() of KsIOList<void> (" + path + ")");
        EXPECT_EQ(CaughtError([&] { Log(file, 16); }).GetCallpath(),
                  "KsIOListOfLists() of KsIOList<void> (" + path + ")");
    }
    kstest::WriteWholeFile(path, std::string(100, 'x'));
    raw.PrepareFile(1);
    EXPECT_EQ(Image().bytes, std::string("ListFile\x1c\x02", 10) + std::string(22, 0));
    EXPECT_EQ(raw.Allocate(16), 32u);
    EXPECT_EQ(file.GetFileSize64(), 48);
    EXPECT_EQ(raw.AppendSerializedObject("twelve bytes", 12), 48u);
    EXPECT_EQ(raw.AppendSerializedObject("thirteen byte", 13), 64u);
    EXPECT_EQ(Image().bytes.substr(32),
              std::string(16, 0) + std::string("\x10\0\0\0twelve bytes", 16) +
                  std::string("\x20\0\0\0thirteen byte", 17) + std::string(15, 0));
}

TEST_F(KsIOListTest, FreedBlocksMergeWithTheirNeighboursAndAreReusedFirstFit) {
    // 96 bytes allocated from 32 on, then freed 16 at a time at these offsets; the free list
    // (offset, size, ...); the size of an allocation then, what it returns, the free list after.
    for (auto [frees, free, size, offset, after] : {
             std::tuple<Offsets, Offsets, int, std::uint64_t, Offsets>{
                 {32, 48}, {32, 32}, 32, 32, {}},
             {{48, 32, 96}, {32, 32, 96, 16}, 32, 32, {96, 16}},              // the pair exactly
             {{32, 64, 48, 96}, {32, 48, 96, 16}, 16, 32, {48, 32, 96, 16}},  // the rest stays
             {{64, 32, 96}, {32, 16, 64, 16, 96, 16}, 48, 128, {32, 16, 64, 16, 96, 16}},
             {{96, 64, 80}, {64, 48}, 48, 64, {}},
         }) {
        raw.PrepareFile(1);
        raw.Allocate(96);
        for (std::uint64_t block : frees) {
            raw.Free(block, 16);
        }
        EXPECT_EQ(Image().FreeList(), free);
        EXPECT_EQ(raw.Allocate(static_cast<std::uint64_t>(size)), offset);
        EXPECT_EQ(Image().FreeList(), after);
    }
}

TEST_F(KsIOListTest, DamagedFilesAndRefusedCallsRaiseTheirErrorAndChangeNothing) {
    KsIOList<Item> list(file, 16);
    std::function<void()> walk = [&] {
        for (auto it = list.begin(); it != list.end(); ++it) {
            *it;
        }
    };
    std::function<void()> erase = [&] {
        auto it = list.begin(LOCK_WRITE);
        list.erase(it);
    };
    std::function<void()> allocate = [&] { raw.Allocate(64); };
    std::function<void()> free = [&] { raw.Free(144, 16); };
    auto damaged = [&](int at, const std::string& reason) {
        return "List file \"" + path + "\" is damaged at offset " + std::to_string(at) + ": " +
               reason;
    };
    auto refused = [&](int size, int at, const std::string& reason) {
        return "Free() of KsIOListBase: Cannot free " + std::to_string(size) + " bytes at offset " +
               std::to_string(at) + " of list file \"" + path + "\": " + reason;
    };
    const std::string beyond = "the link points to a block of 16 bytes at ",
                      end = ", beyond the end of the file (160 bytes)",
                      back = " before the end of the block before it",
                      multiple = " is not a positive multiple of 16",
                      used = "part of them is free already",
                      outside = "they are not blocks of the file";
    // On TwoItems() with `bytes` bytes of `word` written at `offset` (none at 0): the error
    // of `body`, with its call path when nothing was damaged.
    for (auto [body, offset, word, bytes, expected] :
         std::vector<std::tuple<std::function<void()>, int, std::uint64_t, int, std::string>>{
             {walk, 24, 4096, 8, damaged(24, beyond + "4096" + end)},
             {walk, 24, ~std::uint64_t{15}, 8, damaged(24, beyond + "18446744073709551600" + end)},
             {erase, 24, 16, 8, damaged(24, "the link points to 16, inside the header")},
             {walk, 24, 72, 8,
              damaged(24, "the link points to 72, which is not on a block boundary")},
             {walk, 40, 64, 8, damaged(40, "the list runs round in a cycle")},
             {walk, 48, 24, 4, damaged(48, "a block size of 24" + multiple)},
             {erase, 80, 0, 4, damaged(80, "a block size of 0" + multiple)},
             {walk, 48, 4096, 4,
              damaged(32, "the link points to a block of 4096 bytes at 48" + end)},
             {allocate, 16, 4096, 8, damaged(16, beyond + "4096" + end)},
             {free, 96, 0, 8, damaged(96, "a block size of 0" + multiple)},
             {allocate, 96, 48, 8, damaged(104, "the free list goes back to 128," + back)},
             {free, 136, 96, 8, damaged(136, "the free list goes back to 96," + back)},
             {walk, 52, 9, 4,  // "b" claims 4 + 9 bytes; its block holds 12
              "The object at offset 48 of list file \"" + path +
                  "\" is larger than its block of 16 bytes"},
             {[&] { raw.Free(96, 16); }, 0, 0, 0, refused(16, 96, used)},
             {[&] { raw.Free(112, 32); }, 0, 0, 0, refused(32, 112, used)},
             {[&] { raw.Free(16, 16); }, 0, 0, 0, refused(16, 16, outside)},
             {[&] { raw.Free(40, 16); }, 0, 0, 0, refused(16, 40, outside)},
             {[&] { raw.Free(160, 16); }, 0, 0, 0, refused(16, 160, outside)},
             {[&] { raw.Free(32, 24); }, 0, 0, 0,
              "Free() of KsIOListBase: Cannot free blocks unless they are a multiple of 16 bytes"},
             {[&] { raw.Allocate(24); }, 0, 0, 0,
              "Allocate() of KsIOListBase: Must allocate a multiple of 16 bytes from list"},
             {[&] { raw.Allocate(0); }, 0, 0, 0,
              "Allocate() of KsIOListBase: Cannot allocate 0 bytes from list"},
             {[&] { raw.PrepareFile(0); }, 0, 0, 0,
              "PrepareFile() of KsIOSimpleList<void>: List files require at least one list"},
             {[&] {
                  auto it = list.begin();
                  list.insert(it, {"x"});
              },
              0, 0, 0,
              "Insert() of KsIOList<void>\r\ninsert() of KsIOList<TYPE>: Cannot insert through an "
              "iterator that only reads"},
             {[&] { ++list.end(); }, 0, 0, 0,
              "operator++ of KsIOListBase::void_iterator: Cannot advance the end() iterator"},
         }) {
        SCOPED_TRACE(expected);
        TwoItems();
        char damage[8];
        KsByteOrder::StoreLittle(damage, word);
        file.WriteTo(static_cast<std::uint64_t>(offset), damage, offset ? bytes : 0);
        const std::string before = Image().bytes;
        KsException error = CaughtError(body);
        std::string callpath = offset ? "" : error.GetCallpath() + std::string(": ");
        EXPECT_EQ(callpath + error.GetErrorMessage(), expected);
        EXPECT_EQ(Image().bytes, before);
        EXPECT_EQ(file.GetLockEntryCount(), 0);
    }
}

TEST_F(KsIOListTest, IteratorsLockTheWordAheadBeforeLettingGoOfTheOneBehind) {
    KsIOList<Item> list = TwoItems();
    auto locked = [&] {
        Offsets words = {24, 32, 40, 64, 72};
        std::erase_if(words, [&](std::uint64_t word) { return file.GetLockCount(word, 8) <= 0; });
        return words;
    };
    auto it = list.begin();
    EXPECT_EQ(locked(), (Offsets{24, 64}));
    EXPECT_THROW(list.begin(LOCK_WRITE), KsException);  // one process: refused, not waited
    ++it;
    EXPECT_EQ(locked(), (Offsets{32, 72}));
    ++it;  // the end keeps the last link
    EXPECT_EQ(locked(), (Offsets{40}));
    it = list.begin(LOCK_WRITE);
    KsIOListBase::accessor_lock link(file);  // a writer's locks exclude readers
    EXPECT_THROW(link.AcquireAt(LOCK_READ, 64), KsException);
    list.erase(it);  // stands on "b", through the head
    EXPECT_EQ(locked(), (Offsets{24, 32}));
}

// "c" of "a", "b", "c" moves to a new block, is copied to another, which joins the second
// list, and leaves the first.
TEST_F(KsIOListTest, NodesRelocateAndAreGraftedIntoAnotherList) {
    raw.PrepareFile(2);
    KsIOList<Item> first(file, 16);
    auto at = first.begin(LOCK_WRITE);
    for (const char* text : {"c", "b", "a"}) {
        first.insert(at, {text});
    }
    at.GetVoidIterator().Release();
    std::uint64_t b = Image().Nodes(16)[1], moved = raw.Allocate(16), copy = raw.Allocate(16);
    {
        auto it = raw.begin(LOCK_WRITE);
        ++it;
        it.Relocate(moved);
        EXPECT_EQ(Image().Nodes(16)[1], moved);
        it.MoveTo(copy);  // not linked yet
        KsIOListBase::accessor_lock head(file);
        head.AcquireAt(LOCK_READ, 32);
        EXPECT_EQ(MessageOf([&] { it.GraftAfter(head); }),
                  "Cannot graft a node after a link word that is not locked for writing");
        head.AcquireAt(LOCK_WRITE, 32);
        it.GraftAfter(head);
        EXPECT_EQ(it.GetLinkPosition(), 32u);
    }
    raw.Free(b, 16);
    auto it = raw.begin(LOCK_WRITE);
    ++it;
    EXPECT_EQ(it.Drop(), moved);  // the copy shares its object now
    it.Release();
    raw.Free(moved, 16);
    EXPECT_EQ(Contents({false, false}), (std::vector<Elements>{{{"a"}, {"c"}}, {{"b"}}}));
}

// The page cache: reads come from memory while its scope lives, and a read past the end
// fails as the file's own does.
TEST_F(KsIOListTest, CachedReadsComeFromMemoryWhileTheScopeLivesAndFailAsTheFileDoes) {
    raw.PrepareFile(1);
    KsIOList<void> list(file, 16);
    auto it = list.begin(KsIOListBase::kUnlocked);
    list.InsertElement(it, "kept", 4);
    it.Release();
    auto first = [&] {  // without the padding
        KsIOList<void> reader(file, 16);
        auto at = reader.begin(KsIOListBase::kUnlocked);
        KsIOListObject object;
        reader.ReadElement(at, object);
        return std::string(static_cast<const char*>(object.GetData()), 4);
    };
    const std::uint64_t end = KsIOListWords::Size(file);
    {
        KsIOListCache::Scope outer(file);
        KsIOListCache::Scope inner(file);  // shares the outer one's pages
        EXPECT_EQ(first(), "kept");
        // Changed behind the cache's back (which no process may do while the whole file is
        // locked), the object still reads as cached.
        KsIOUnbuffered(path.c_str(), IO_READ | IO_WRITE).WriteTo(end - 12, "lost", 4);
        EXPECT_EQ(first(), "kept");
        char bytes[8];
        EXPECT_EQ(MessageOf([&] { KsIOListWords::ReadBytes(file, end - 4, bytes, 8); }),
                  MessageOf([&] { file.ReadFrom(end - 4, bytes, 8, true); }));
    }
    EXPECT_EQ(first(), "lost");
}

// Under the whole-file lock and the cache, space at the end is taken without writing; what
// is still not written when the cache ends is filled out, so the file ends where the blocks do.
TEST_F(KsIOListTest, SpaceReservedUnderTheCacheIsFilledOutWhenItEnds) {
    raw.PrepareFile(1);
    auto size = [&] { return static_cast<std::uint64_t>(file.GetFileSize64()); };
    const std::uint64_t start = size();
    {
        KsIOLockGuard whole(file, LOCK_WRITE, 0, 0);
        KsIOListCache::Scope cache(file);
        EXPECT_EQ(raw.Allocate(32), start);
        EXPECT_EQ(raw.Allocate(16), start + 32);
        EXPECT_EQ(size(), start);
        EXPECT_EQ(raw.AppendSerializedObject("abcde", 5), start + 48);
        KsIOListCache::Of(file)->Flush();  // the object's block is written whole, padding and all
        EXPECT_EQ(size(), start + 64);
        EXPECT_EQ(raw.Allocate(48), start + 64);
    }
    EXPECT_EQ(size(), start + 112);
    EXPECT_EQ(raw.Allocate(16), start + 112);
}

// The first 3000 changes go through the file, the others through a second handle on it whose
// nth write fails, once or from then on (in Allocate, Free, an insert, ...), and in every
// other run of 25 changes through a page cache of that handle, which must not run ahead of
// a failed write: what that leaves is sound and takes more changes.
TEST_F(KsIOListTest, RandomChangesFollowTheModelAndFailedWritesLeaveASoundFile) {
    raw.PrepareFile(1);
    auto plan = std::make_shared<kstest::FaultPlan>();
    kstest::FaultInjectingUnbufferedFile failing(plan, path.c_str(), IO_READ | IO_WRITE);
    std::optional<KsIOListCache::Scope> cache;
    int failed = 0;
    for (int step = 0; step < 5000 && !HasFailure(); ++step) {
        SCOPED_TRACE(step);
        if (step % 25 == 0) {
            cache.reset();
            if (step >= 3000 && step % 50 == 0) {
                cache.emplace(failing);
            }
        }
        plan->Reset();
        plan->Fail(kstest::FaultOp::kWriteTo, 1 + static_cast<int>(Below(24)), ENOSPC, step % 2);
        const Elements before = model;
        bool threw = false;
        try {
            Change(Log(step < 3000 ? file : failing, 16), model, Below(8));
        } catch (const KsException&) {
            threw = true;
        }
        plan->Reset();
        if (cache) {
            KsIOListCache::Of(failing)->Flush();  // the write held back, if any
        }
        Elements now = Contents({true}, step < 3000)[0];
        if (threw) {
            ++failed;
            EXPECT_TRUE(now == before || now == model);  // the change was made whole or not at all
            model = now;
        }
        EXPECT_EQ(now, model);
        if (cache) {  // what the cache reads, the file holds
            Log cached(failing, 16);
            std::size_t i = 0;
            for (auto it = cached.begin(); it != cached.end(); ++it) {
                EXPECT_EQ((*it).text, model.at(i++).text);
            }
        }
        EXPECT_EQ(file.GetLockEntryCount() + failing.GetLockEntryCount(), 0);
    }
    EXPECT_GT(failed, 300);
}

// One process's share: inserts, erases (which allocate and free) and walks on lists 0 and 1,
// logged as "I list text" and "D list text"; the texts are unique and of many lengths.
void Work(const std::string& path, int process, int operations, std::ostream& log) {
    KsIOUnbuffered file(path.c_str(), IO_READ | IO_WRITE);
    std::mt19937 random(static_cast<unsigned>(process));
    for (int n = 0; n < operations; ++n) {
        std::uint64_t which = random() % 2, choice = random() % 100, steps = random() % 8;
        KsIOList<Item> list(file, KsIOListFormat::ListPosition(which));
        auto it = list.begin(choice < 75 ? LOCK_WRITE : LOCK_READ);
        for (steps = choice >= 75 && choice < 78 ? ~0ull : steps; steps > 0 && it != list.end();
             --steps, ++it) {
        }
        if (choice < 45) {
            std::string text = std::to_string(process) + "." + std::to_string(n) + "." +
                               std::string(n % 40, static_cast<char>('a' + process));
            list.insert(it, {text});
            log << "I " << which << " " << text << "\n";
        } else if (choice < 75 && it != list.end()) {
            log << "D " << which << " " << (*it).text << "\n";
            list.erase(it);
        }
    }
}

// KSTEST_LIST_OPS sets the operations per process (default 1500) for longer runs.
TEST_F(KsIOListTest, ConcurrentProcessesKeepEveryElementAndBlockWhole) {
    raw.PrepareFile(2);
    const char* configured = std::getenv("KSTEST_LIST_OPS");
    const int processes = 4, operations = configured ? std::atoi(configured) : 1500;
    std::vector<pid_t> children;
    for (int process = 0; process < processes; ++process) {
        children.push_back(kstest::Spawn([&] {
            alarm(static_cast<unsigned>(60 + operations / 100));  // a deadlock ends the child
            std::ofstream log(dir.File("worker" + std::to_string(process)));
            Work(path, process, operations, log);
            return 0;
        }));
    }
    for (pid_t pid : children) {
        int status = -1;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)  // 99: it raised an error
            << "worker " << pid << " ended with status " << status;
    }
    std::map<std::string, std::uint64_t> inserted, dropped, found;  // text -> list
    for (int process = 0; process < processes; ++process) {
        std::ifstream log(dir.File("worker" + std::to_string(process)));
        std::string kind, text;
        for (std::uint64_t which = 0; log >> kind >> which >> text;) {
            EXPECT_TRUE((kind == "I" ? inserted : dropped).emplace(text, which).second) << text;
        }
    }
    for (auto [text, which] : dropped) {
        EXPECT_EQ(inserted.erase(text), 1u) << "dropped, never inserted: " << text;
    }
    std::vector<Elements> lists = Contents({false, false});
    for (std::uint64_t which = 0; which < 2; ++which) {
        for (const Element& element : lists[which]) {
            EXPECT_TRUE(found.emplace(element.text, which).second) << element.text;
        }
    }
    EXPECT_EQ(found, inserted);
    EXPECT_GT(dropped.size(), 100u);
}

}  // namespace
