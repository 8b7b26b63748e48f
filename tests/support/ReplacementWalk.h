#pragma once
// A file rewritten through a new one must be old or new after any power cut, and new once
// the rewrite returned: Walk runs `rewrite`, which writes `fresh` into `target` by a name
// beside it, under WalkPowerCuts and keeps every cut that left anything else in `bad`.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/FaultInjectingFile.h"
#include "support/TempDir.h"

namespace kstest {

struct ReplacementWalk {
    TempDir dir;
    std::string target = dir.File("t");
    std::string fresh = Pattern(1500, 'n');
    std::vector<std::string> bad;

    int Walk(const std::function<void(FaultInjectingFactory&)>& rewrite) {
        WriteWholeFile(target, "old");
        return WalkPowerCuts(dir.Path().string(), rewrite, [&](const PowerCutPoint& p) {
            std::string now = std::filesystem::exists(target) ? ReadWholeFile(target) : "";
            if (!(now == fresh || (now == "old" && !p.Finished()))) {
                bad.push_back(p.Describe() + ": " + std::to_string(now.size()) + " bytes");
            }
        });
    }
};

}  // namespace kstest
