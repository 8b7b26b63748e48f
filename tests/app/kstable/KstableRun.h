#pragma once
// The fixture of the tests that run the built kstable: a temporary folder, the table "t"
// in it, and a run of the program there.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ProgramRun.h"
#include "support/TempDir.h"

namespace kstest {

class KstableRunTest : public ::testing::Test {
protected:
    // Runs kstable in the folder with `input` as its standard input.
    ProgramOutcome Run(std::vector<std::string> args, const std::string& input = "") {
        WriteWholeFile(dir.File("stdin"), input);
        return RunProgram(KSTABLE, args, dir.Path().string(), dir.File("stdin"));
    }

    TempDir dir;
    std::string table = dir.File("t");
};

}  // namespace kstest
