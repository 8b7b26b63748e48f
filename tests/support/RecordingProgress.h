#pragma once
// A progress display for tests: it records every call as one text line ("SetPosition(3)")
// and keeps the values a real display would, so that operations can be checked for the
// calls they make and can be told to stop after a number of ShouldContinue questions.

#include <cstdint>
#include <string>
#include <vector>

#include "KsProgressInterface.h"

namespace kstest {

class RecordingProgress : public KsProgressInterface {
public:
    std::vector<std::string> calls;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t subStart = 0;
    std::int32_t subEnd = 0;
    std::int32_t position = 0;
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
        calls.push_back(std::string("ReleaseSubProgress(") + (released == child ? "child" : "?") +
                        ")");
    }
    void Begin() override { calls.push_back("Begin()"); }
    void SetTitle(const char* text) override {
        calls.push_back("SetTitle(" + std::string(text) + ")");
    }
    void SetMaximum(std::int32_t value) override {
        maximum = value;
        calls.push_back("SetMaximum(" + std::to_string(value) + ")");
    }
    void SetMinimum(std::int32_t value) override {
        minimum = value;
        calls.push_back("SetMinimum(" + std::to_string(value) + ")");
    }
    void SetDetail(const char* text) override {
        calls.push_back("SetDetail(" + std::string(text) + ")");
    }
    void SetPosition(std::int32_t value) override {
        position = value;
        calls.push_back("SetPosition(" + std::to_string(value) + ")");
    }
    void SetSubRangeEnd(std::int32_t value) override {
        subEnd = value;
        calls.push_back("SetSubRangeEnd(" + std::to_string(value) + ")");
    }
    void SetSubRangeStart(std::int32_t value) override {
        subStart = value;
        calls.push_back("SetSubRangeStart(" + std::to_string(value) + ")");
    }
};

}  // namespace kstest
