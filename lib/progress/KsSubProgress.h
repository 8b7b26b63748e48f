#pragma once
/// @file

#include "progress/KsProgressInterface.h"

/// Lets a nested operation fill a part of its caller's progress range: on construction it
/// sets the parent's sub-range and takes the parent's child interface, forwards every call
/// to that child while it lives, and hands the child back when it is destroyed.
///
///     KsSubProgress part(progress, 5, 99);
///     BuildIndex(..., part);
class KsSubProgress : public KsProgressInterface {
public:
    /// Sets the sub-range [start, end] of `parent`, whose child takes the calls until this
    /// object goes; `parent` must outlive it.
    KsSubProgress(KsProgressInterface& parent, std::int32_t start, std::int32_t end);
    ~KsSubProgress() override;
    KsSubProgress(const KsSubProgress&) = delete;
    KsSubProgress& operator=(const KsSubProgress&) = delete;

    void Reset() override { target_->Reset(); }
    KsProgressInterface* GetSubProgress() override { return target_->GetSubProgress(); }
    void SetStepSize(std::uint16_t step) override { target_->SetStepSize(step); }
    void SetSubPosition(std::int32_t position) override { target_->SetSubPosition(position); }
    std::int32_t GetPosition() override { return target_->GetPosition(); }
    std::int32_t GetPercent() override { return target_->GetPercent(); }
    bool ShouldContinue() override { return target_->ShouldContinue(); }
    std::int32_t GetMaximum() override { return target_->GetMaximum(); }
    std::int32_t GetMinimum() override { return target_->GetMinimum(); }
    std::int32_t GetUpdateInterval() override { return target_->GetUpdateInterval(); }
    std::int32_t GetSubPosition() override { return target_->GetSubPosition(); }
    std::int32_t GetStepSize() override { return target_->GetStepSize(); }
    std::int32_t GetSubRangeEnd() override { return target_->GetSubRangeEnd(); }
    std::int32_t GetSubRangeStart() override { return target_->GetSubRangeStart(); }
    std::int32_t GetStyle() override { return target_->GetStyle(); }
    void SetCancelable(bool cancelable) override { target_->SetCancelable(cancelable); }
    void Finish() override { target_->Finish(); }
    void SetUpdateInterval(std::int32_t milliseconds) override {
        target_->SetUpdateInterval(milliseconds);
    }
    void ReleaseSubProgress(KsProgressInterface* child) override {
        target_->ReleaseSubProgress(child);
    }
    void Begin() override { target_->Begin(); }
    void SetBounds(std::int32_t minimum, std::int32_t maximum, std::int32_t subStart,
                   std::int32_t subEnd) override {
        target_->SetBounds(minimum, maximum, subStart, subEnd);
    }
    void SetTitle(const char* text, std::int32_t flag) override { target_->SetTitle(text, flag); }
    void SetTitle(const char* text) override { target_->SetTitle(text); }
    void SetMaximum(std::int32_t maximum) override { target_->SetMaximum(maximum); }
    void SetMinimum(std::int32_t minimum) override { target_->SetMinimum(minimum); }
    void SetDetail(const char* text) override { target_->SetDetail(text); }
    bool SetPercent(std::int32_t percent) override { return target_->SetPercent(percent); }
    void SetPosition(std::int32_t position) override { target_->SetPosition(position); }
    void SetStatus(const char* text) override { target_->SetStatus(text); }
    void StepBy(std::int32_t steps) override { target_->StepBy(steps); }
    void SetSubRangeEnd(std::int32_t end) override { target_->SetSubRangeEnd(end); }
    void SetSubRangeStart(std::int32_t start) override { target_->SetSubRangeStart(start); }
    void SetStyle(std::int32_t style) override { target_->SetStyle(style); }
    void SetCaption(const char* text) override { target_->SetCaption(text); }
    void Refresh() override { target_->Refresh(); }

private:
    KsProgressInterface* child_;   // from the parent's GetSubProgress(), not owned
    KsProgressInterface* parent_;  // not owned
    /// Where the calls go: the child, or the null display when the parent gave none.
    KsProgressInterface* target_;
};
