// Power cuts over the file classes' own syncs: a failed sync stores nothing and raises with
// the file's name, and a replacement leaves the old file or the new one after any cut.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/KsIOFactory.h"
#include "io/KsReplacementFile.h"
#include "platform/KsSystemError.h"
#include "support/FaultInjectingFile.h"
#include "support/KsErrorCapture.h"
#include "support/ReplacementWalk.h"
#include "support/TempDir.h"

namespace {

using kstest::CutMode;
using kstest::ErrorOf;
using kstest::FaultInjectingFactory;
using kstest::FaultOp;
using kstest::NameChanges;

constexpr int kExisting = IO_READ | IO_WRITE;

// A sync that fails stores nothing and raises as the real one does; so does a folder sync.
TEST(KsPowerCutTest, FailedSyncsRaiseAndStoreNothing) {
    kstest::TempDir dir;
    const std::string folder = dir.Path().string(), path = dir.File("a");
    kstest::WriteWholeFile(path, "old");
    FaultInjectingFactory factory;
    factory.PowerCut().Watch(folder);
    auto stored = [&] {
        return factory.PowerCut()
            .Image(CutMode::kDropUnsynced, NameChanges::kUndoUnsynced)
            .at(folder);
    };
    const std::string eio = " -- " + KsSystemErrorText(EIO);
    factory.Plan().Fail(FaultOp::kSync, 1, EIO);
    {
        auto file = factory.Open(path.c_str(), kExisting);
        file->Write("new", 3);
        EXPECT_EQ(ErrorOf([&] { file->Sync(); }),
                  "Unable to sync \"" + path + "\"" + eio + " / KsIO / Sync() of KsIO");
    }
    EXPECT_EQ(stored().at("a"), "old");
    {
        kstest::FaultInjectingUnbufferedFile file(factory.SharedPlan(), factory.SharedPowerCut(),
                                                  path.c_str(), kExisting);
        factory.Plan().Fail(FaultOp::kSync, 2, EIO);
        EXPECT_EQ(ErrorOf([&] { file.Sync(); }),
                  "Unable to sync \"" + path + "\"" + eio +
                      " / KsIOUnbuffered / Sync() of KsIOUnbuffered");
        file.Sync();
    }
    EXPECT_EQ(factory.Plan().Calls(FaultOp::kSync), 3);
    EXPECT_EQ(factory.Plan().Failures(FaultOp::kSync), 2);
    EXPECT_EQ(stored().at("a"), "new");

    factory.Rename(dir.File("b").c_str(), path.c_str());
    factory.Plan().Fail(FaultOp::kSyncFolder, 1, EIO);
    EXPECT_EQ(ErrorOf([&] { factory.SyncFolder(folder.c_str()); }),
              "Unable to sync the folder \"" + folder + "\"" + eio +
                  " / KsIOInterface / SyncFolder() of KsIOInterface");
    // The factory of real files words it the same.
    const std::string missing = dir.File("missing");
    EXPECT_EQ(ErrorOf([&] { KsIOFactory::Default().SyncFolder(missing.c_str()); }),
              "Unable to sync the folder \"" + missing + "\" -- " + KsSystemErrorText(ENOENT) +
                  " / KsIOInterface / SyncFolder() of KsIOInterface");
    EXPECT_EQ(stored(), (kstest::FolderImage{{"a", "new"}}));
}

// KsReplacementFile::WriteReplacing, walked: its one sync of the new file before the rename
// and one folder sync after it make every cut leave the old file or the new one.
TEST(KsPowerCutTest, WriteReplacingSurvivesEveryPowerCut) {
    // Without the sync of the new file before Replace and of the folder after it, the
    // finished cuts leave the target old (names undone), empty or torn to 1024 bytes (names
    // kept).
    kstest::ReplacementWalk walk;
    int cuts = walk.Walk([&](FaultInjectingFactory& factory) {
        KsReplacementFile::WriteReplacing(
            factory, walk.target.c_str(), "new", [&](const char* name) {
                auto file = factory.Open(name, kExisting);
                file->Write(walk.fresh.data(), static_cast<std::int32_t>(walk.fresh.size()));
                file->Close();
            });
    });
    EXPECT_EQ(cuts, 12);
    EXPECT_EQ(walk.bad, std::vector<std::string>());
}

}  // namespace
