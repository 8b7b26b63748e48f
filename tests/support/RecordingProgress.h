#pragma once
// A progress display for tests: it records every call as one text line ("SetPosition(3)")
// and keeps the values a real display would, so that operations can be checked for the
// calls they make and can be told to stop after a number of ShouldContinue questions.

#include <cstdint>
#include <string>
#include <vector>

#include "progress/KsProgressInterface.h"

namespace kstest {

class RecordingProgress : public KsProgressInterface {
public:
    std::vector<std::string> calls;
    std::int32_t minimum = 0, maximum = 0, subStart = 0, subEnd = 0, position = 0;
    // ShouldContinue answers false from this call on (counted from 1); 0 never stops.
    int stopAtQuestion = 0;
    int questions = 0;
    KsProgressInterface* child = this;

    KsProgressInterface* GetSubProgress() override {
        calls.push_back("GetSubProgress()");
        return child;
    }
    bool ShouldContinue() override {
        calls.push_back("ShouldContinue()");
        ++questions;
        return stopAtQuestion == 0 || questions < stopAtQuestion;
    }
    std::int32_t GetMaximum() override { return maximum; }
    std::int32_t GetMinimum() override { return minimum; }
    std::int32_t GetSubRangeEnd() override { return subEnd; }
    std::int32_t GetSubRangeStart() override { return subStart; }
    void Finish() override { calls.push_back("Finish()"); }
    void ReleaseSubProgress(KsProgressInterface* released) override {
        calls.push_back(released == child ? "ReleaseSubProgress(child)" : "ReleaseSubProgress(?)");
    }
    void SetTitle(const char* text) override {
        calls.push_back("SetTitle(" + std::string(text) + ")");
    }
    void SetDetail(const char* text) override {
        calls.push_back("SetDetail(" + std::string(text) + ")");
    }
    void SetMaximum(std::int32_t value) override { Keep("SetMaximum", maximum, value); }
    void SetMinimum(std::int32_t value) override { Keep("SetMinimum", minimum, value); }
    void SetPosition(std::int32_t value) override { Keep("SetPosition", position, value); }
    void SetSubRangeEnd(std::int32_t value) override { Keep("SetSubRangeEnd", subEnd, value); }
    void SetSubRangeStart(std::int32_t value) override {
        Keep("SetSubRangeStart", subStart, value);
    }

private:
    void Keep(const char* name, std::int32_t& field, std::int32_t value) {
        field = value;
        calls.push_back(name + ("(" + std::to_string(value) + ")"));
    }
};

}  // namespace kstest
