// The power-cut model of the fault-injecting files: what a cut leaves of data and of name
// changes that were not synced, across a forked child, and the walk over an operation's
// sync points. The file classes' own syncs and replacements are walked with the I/O tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "io/KsIOUnbuffered.h"
#include "support/ChildProcess.h"
#include "support/FaultInjectingFile.h"
#include "support/ReplacementWalk.h"
#include "support/TempDir.h"

namespace {

using kstest::CutMode;
using kstest::FaultInjectingFactory;
using kstest::FaultOp;
using kstest::FolderImage;
using kstest::NameChanges;
using kstest::Pattern;
using kstest::PowerCutModel;
using kstest::PowerCutPoint;

constexpr int kNewFile = IO_READ | IO_WRITE | IO_CREATE | IO_TRUNCATE;
constexpr int kExisting = IO_READ | IO_WRITE;

// A folder and a factory whose model watches it.
struct Scene {
    kstest::TempDir dir;
    FaultInjectingFactory factory;

    explicit Scene(const FolderImage& before = {}) {
        PowerCutModel::Impose({{Folder(), before}});
        factory.PowerCut().Watch(Folder());
    }
    std::string Folder() const { return dir.Path().string(); }
    std::string Path(const std::string& name) const { return dir.File(name); }
    void Rename(const std::string& to, const std::string& from) {
        factory.Rename(Path(to).c_str(), Path(from).c_str());
    }
    void Replace(const std::string& target, const std::string& by) {
        factory.Replace(Path(target).c_str(), Path(by).c_str());
    }
    void Delete(const std::string& name) { factory.Delete(Path(name).c_str()); }
    std::unique_ptr<KsIOInterface> Open(const std::string& name, int flags = kExisting) {
        return factory.Open(Path(name).c_str(), flags);
    }
    // Writes `bytes` to `name` through the factory, emptied first, and syncs them if asked.
    void Write(const std::string& name, const std::string& bytes, bool sync) {
        auto file = Open(name, kNewFile);
        file->Write(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        if (sync) {
            file->Sync();
        }
        file->Close();
    }
    void SyncFolder() { factory.SyncFolder(Folder().c_str()); }
    FolderImage After(CutMode mode, NameChanges names) {
        return factory.PowerCut().Image(mode, names).at(Folder());
    }
    FolderImage OnDisk() const {
        FolderImage files;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            files[entry.path().filename().string()] = kstest::ReadWholeFile(entry.path().string());
        }
        return files;
    }
};

struct CutCase {
    const char* what;
    FolderImage before;
    std::function<void(Scene&)> change;
    FolderImage namesUndone;  // and what NameChanges::kKeepAll leaves:
    FolderImage namesKept;
};

// Data and names, each kind of change with and without its sync. The writes are shorter
// than a sector, so both modes agree.
TEST(KsPowerCutModelTest, CutLeavesWhatWasSynced) {
    const FolderImage digits{{"a", "0123456789"}};
    const FolderImage justA{{"a", "A"}};
    const FolderImage aAndB{{"a", "A"}, {"b", "B"}};
    const CutCase cases[] = {
        {"a synced write stays",
         {{"a", "old"}},
         [](Scene& s) { s.Write("a", "new", true); },
         {{"a", "new"}},
         {{"a", "new"}}},
        {"an unsynced write is lost",
         {{"a", "old"}},
         [](Scene& s) { s.Write("a", "new", false); },
         {{"a", "old"}},
         {{"a", "old"}}},
        {"what the last sync saw stays",
         {{"a", "old"}},
         [](Scene& s) {
             s.Write("a", "v1", true);
             s.Write("a", "v2", false);
         },
         {{"a", "v1"}},
         {{"a", "v1"}}},
        {"a sync through any descriptor stores the file",
         {{"a", "old"}},
         [](Scene& s) {
             auto writer = s.Open("a");
             writer->Write("new", 3);
             writer->Flush();
             s.Open("a")->Sync();
         },
         {{"a", "new"}},
         {{"a", "new"}}},
        {"an unsynced truncation is lost", digits, [](Scene& s) { s.Open("a")->Truncate(4); },
         digits, digits},
        {"a synced truncation stays",
         digits,
         [](Scene& s) {
             auto file = s.Open("a");
             file->Truncate(4);
             file->Sync();
         },
         {{"a", "012345"}},
         {{"a", "012345"}}},
        {"an emptying open counts with the next sync",
         digits,
         [](Scene& s) { s.Write("a", "x", true); },
         {{"a", "x"}},
         {{"a", "x"}}},
        {"an unsynced emptying open is lost", digits, [](Scene& s) { s.Write("a", "x", false); },
         digits, digits},
        {"a new file needs its folder synced",
         {},
         [](Scene& s) { s.Write("c", "new", true); },
         {},
         {{"c", "new"}}},
        {"a new name synced before its data holds nothing",
         {},
         [](Scene& s) {
             s.Write("c", "new", false);
             s.SyncFolder();
         },
         {{"c", ""}},
         {{"c", ""}}},
        {"a file made outside the factory holds nothing stored",
         {},
         [](Scene& s) {
             kstest::WriteWholeFile(s.Path("o"), "outside");
             s.SyncFolder();
         },
         {{"o", ""}},
         {{"o", ""}}},
        {"a rename is undone", justA, [](Scene& s) { s.Rename("b", "a"); }, justA, {{"b", "A"}}},
        {"a rename over a file is undone",
         aAndB,
         [](Scene& s) { s.Rename("b", "a"); },
         aAndB,
         {{"b", "A"}}},
        {"a replacement is undone",
         aAndB,
         [](Scene& s) { s.Replace("b", "a"); },
         aAndB,
         {{"b", "A"}}},
        {"a rename and a folder sync stay",
         aAndB,
         [](Scene& s) {
             s.Rename("b", "a");
             s.SyncFolder();
         },
         {{"b", "A"}},
         {{"b", "A"}}},
        {"names go back to the last folder sync",
         justA,
         [](Scene& s) {
             s.Rename("b", "a");
             s.SyncFolder();
             s.Rename("c", "b");
         },
         {{"b", "A"}},
         {{"c", "A"}}},
        {"a renamed file is followed through its old descriptor",
         justA,
         [](Scene& s) {
             auto file = s.Open("a");
             s.Rename("b", "a");
             s.SyncFolder();
             file->Write("new", 3);
             file->Sync();
         },
         {{"b", "new"}},
         {{"b", "new"}}},
        {"a delete is undone, with the stored data",
         justA,
         [](Scene& s) {
             s.Write("a", "A2", true);
             s.Write("a", "A3", false);
             s.Delete("a");
         },
         {{"a", "A2"}},
         {}},
        {"a delete and a folder sync stay",
         justA,
         [](Scene& s) {
             s.Delete("a");
             s.SyncFolder();
         },
         {},
         {}},
        {"a deleted file's number is not taken for a new one",
         {{"a", std::string(5000, 'A')}},
         [](Scene& s) {
             s.Delete("a");
             s.SyncFolder();
             s.Write("c", "x", false);
             s.SyncFolder();
         },
         {{"c", ""}},
         {{"c", ""}}},
        {"a file made and deleted since the folder sync comes back",
         {},
         [](Scene& s) {
             s.Write("c", "new", true);
             s.SyncFolder();
             s.Delete("c");
         },
         {{"c", "new"}},
         {}},
    };
    for (const CutCase& c : cases) {
        SCOPED_TRACE(c.what);
        Scene scene(c.before);
        c.change(scene);
        for (CutMode mode : {CutMode::kDropUnsynced, CutMode::kKeepTornTail}) {
            EXPECT_EQ(scene.After(mode, NameChanges::kUndoUnsynced), c.namesUndone);
            EXPECT_EQ(scene.After(mode, NameChanges::kKeepAll), c.namesKept);
        }
        // The cut rewrites the folder; the model then starts again from there.
        scene.factory.PowerCut().Cut(CutMode::kDropUnsynced);
        EXPECT_EQ(scene.OnDisk(), c.namesUndone);
        scene.Write("late", "unsynced", false);
        scene.factory.PowerCut().Cut(CutMode::kDropUnsynced);
        EXPECT_EQ(scene.OnDisk(), c.namesUndone);
    }
}

// The torn tail: of the writes since the last sync only the last one stays, and only up to
// the last 512-byte boundary of the file at or before its end.
TEST(KsPowerCutModelTest, TornTailKeepsTheLastWriteUpToASectorBoundary) {
    struct Row {
        std::size_t stored;
        std::int32_t truncatedTo;  // -1: no truncation before the last write
        std::int64_t offset;
        std::size_t length;
        std::int64_t keptEnd;  // the last write stays in [offset, keptEnd)
    };
    const Row rows[] = {
        {1000, -1, 0, 512, 512},      {1000, -1, 0, 511, 0},        {1000, -1, 0, 1023, 512},
        {1000, -1, 100, 1000, 1024},  {1000, -1, 600, 400, 0},      {1000, -1, 512, 512, 1024},
        {2000, -1, 1024, 1030, 2048}, {10, -1, 1000, 100, 1024},    {0, -1, 0, 5000, 4608},
        {2000, 0, 0, 1300, 1024},     {2000, 500, 1500, 600, 2048},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.stored << " " << row.truncatedTo << " " << row.offset
                                        << " " << row.length);
        const std::string stored = Pattern(row.stored, 'a');
        Scene scene(FolderImage{{"f", stored}});
        const std::string last = Pattern(row.length, 'A');
        {
            kstest::FaultInjectingUnbufferedFile file(scene.factory.SharedPlan(),
                                                      scene.factory.SharedPowerCut(),
                                                      scene.Path("f").c_str(), kExisting);
            const std::string earlier(700, '!');
            file.WriteTo(0, earlier.data(), 700);
            if (row.truncatedTo >= 0) {
                file.Truncate64(static_cast<std::int64_t>(700 > row.stored ? 700 : row.stored) -
                                row.truncatedTo);
            }
            file.WriteTo(static_cast<std::uint64_t>(row.offset), last.data(),
                         static_cast<std::int32_t>(row.length));
        }
        std::string expected = stored;
        if (row.keptEnd > row.offset) {
            auto from = static_cast<std::size_t>(row.offset);
            auto count = static_cast<std::size_t>(row.keptEnd - row.offset);
            expected.resize(std::max(expected.size(), from + count), '\0');
            expected.replace(from, count, last, 0, count);
        }
        EXPECT_EQ(scene.After(CutMode::kKeepTornTail, NameChanges::kUndoUnsynced).at("f"),
                  expected);
        EXPECT_EQ(scene.After(CutMode::kDropUnsynced, NameChanges::kUndoUnsynced).at("f"), stored);
    }
}

// A child reports to the parent's model until it dies; the parent cuts the power.
TEST(KsPowerCutModelTest, ModelFollowsAChildToItsDeath) {
    {
        Scene scene(FolderImage{{"a", "old"}});
        scene.factory.Plan().Fail(FaultOp::kSync, 2, kstest::kDie);
        EXPECT_EQ(kstest::RunInChild([&] {
                      scene.Write("a", "v1", true);
                      scene.Write("a", "v2", true);
                      return 0;
                  }),
                  kstest::kDiedStatus);
        EXPECT_EQ(scene.OnDisk(), (FolderImage{{"a", "v2"}}));
        scene.factory.PowerCut().Cut(CutMode::kKeepTornTail);
        EXPECT_EQ(scene.OnDisk(), (FolderImage{{"a", "v1"}}));
    }
    {
        // A write that dies part way keeps, torn, the sectors it completed.
        const std::string stored = Pattern(2000, 'a');
        const std::string fresh = Pattern(1300, 'A');
        Scene scene(FolderImage{{"f", stored}});
        scene.factory.Plan().FailShort(FaultOp::kWrite, 1, 700, kstest::kDie);
        EXPECT_EQ(kstest::RunInChild([&] {
                      kstest::FaultInjectingUnbufferedFile file(scene.factory.SharedPlan(),
                                                                scene.factory.SharedPowerCut(),
                                                                scene.Path("f").c_str(), kExisting);
                      file.Write(fresh.data(), 1300);
                      return 0;
                  }),
                  kstest::kDiedStatus);
        scene.factory.PowerCut().Cut(CutMode::kKeepTornTail);
        EXPECT_EQ(scene.OnDisk().at("f"), fresh.substr(0, 512) + stored.substr(512));
    }
}

// What each cut of the walk leaves of a file written, synced, grown, synced again and
// then named for good by a folder sync: every sync point, both modes, both kinds of names.
TEST(KsPowerCutModelTest, WalkCutsAtEverySyncPoint) {
    kstest::TempDir dir;
    const std::string path = dir.File("x");
    auto operation = [&](FaultInjectingFactory& factory) {
        auto file = factory.Open(path.c_str(), kNewFile);
        file->Write(Pattern(1500, 'a').data(), 1500);
        file->Sync();
        file->Write(Pattern(700, 'b').data(), 700);
        file->Sync();
        file->Close();
        factory.SyncFolder(dir.Path().string().c_str());
    };
    std::vector<std::string> seen;
    int cuts = kstest::WalkPowerCuts(dir.Path().string(), operation, [&](const PowerCutPoint& p) {
        std::string left = p.Describe() + ":";
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            left += " " + entry.path().filename().string() + "=" +
                    std::to_string(std::filesystem::file_size(entry.path()));
        }
        seen.push_back(left);
    });
    const std::vector<std::string> expected = {
        "sync 1, unsynced data dropped, names undone:",
        "sync 1, unsynced data dropped, names kept: x=0",
        "sync 1, torn tail, names undone:",
        "sync 1, torn tail, names kept: x=1024",
        "sync 2, unsynced data dropped, names undone:",
        "sync 2, unsynced data dropped, names kept: x=1500",
        "sync 2, torn tail, names undone:",
        "sync 2, torn tail, names kept: x=2048",
        "folder sync 1, unsynced data dropped, names undone:",
        "folder sync 1, unsynced data dropped, names kept: x=2200",
        "folder sync 1, torn tail, names undone:",
        "folder sync 1, torn tail, names kept: x=2200",
        "finished, unsynced data dropped, names undone: x=2200",
        "finished, unsynced data dropped, names kept: x=2200",
        "finished, torn tail, names undone: x=2200",
        "finished, torn tail, names kept: x=2200",
    };
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(cuts, 16);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));  // as it began
}

// The walk catches each missing step of "write, sync, rename, sync the folder".
TEST(KsPowerCutModelTest, WalkFindsEachMissingStepOfAReplacement) {
    struct Row {
        bool syncFile;
        bool syncFolder;
        std::vector<std::string> bad;
    };
    const Row rows[] = {
        {true, true, {}},
        {false,
         true,
         {"folder sync 1, unsynced data dropped, names kept: 0 bytes",
          "folder sync 1, torn tail, names kept: 1024 bytes",
          "finished, unsynced data dropped, names undone: 0 bytes",
          "finished, unsynced data dropped, names kept: 0 bytes",
          "finished, torn tail, names undone: 1024 bytes",
          "finished, torn tail, names kept: 1024 bytes"}},
        {true,
         false,
         {"finished, unsynced data dropped, names undone: 3 bytes",
          "finished, torn tail, names undone: 3 bytes"}},
        {false,
         false,
         {"finished, unsynced data dropped, names undone: 3 bytes",
          "finished, unsynced data dropped, names kept: 0 bytes",
          "finished, torn tail, names undone: 3 bytes",
          "finished, torn tail, names kept: 1024 bytes"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.syncFile << row.syncFolder);
        kstest::ReplacementWalk walk;
        int cuts = walk.Walk([&](FaultInjectingFactory& factory) {
            const std::string name = walk.target + ".new";
            auto file = factory.Open(name.c_str(), kNewFile);
            file->Write(walk.fresh.data(), static_cast<std::int32_t>(walk.fresh.size()));
            if (row.syncFile) {
                file->Sync();
            }
            file->Close();
            factory.Replace(walk.target.c_str(), name.c_str());
            if (row.syncFolder) {
                factory.SyncFolder(walk.dir.Path().string().c_str());
            }
        });
        EXPECT_EQ(cuts, 4 * (1 + row.syncFile + row.syncFolder));
        EXPECT_EQ(walk.bad, row.bad);
    }
}

}  // namespace
