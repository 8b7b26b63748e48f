#pragma once
/// @file

#include <cstdint>

#include "core/KsException.h"

/// The interface through which long operations (index builds, file and record copies,
/// sorts) report what they do and learn whether to go on. A display has a title, a detail
/// line, a main range with a position and a percentage, and a sub-range of the main range
/// that a nested operation fills through a child interface. Every operation has a default
/// that shows nothing and never asks to stop, so a display overrides only what it shows.
class KsProgressInterface {
public:
    virtual ~KsProgressInterface() = default;

    /// @{
    /// The object that does the displaying: this one, unless the display forwards to another.
    virtual KsProgressInterface& GetInterface() { return *this; }
    virtual const KsProgressInterface& GetInterfaceConst() const { return *this; }
    /// @}
    /// Puts the display back to its empty state.
    virtual void Reset() {}
    /// The child through which a nested operation reports into the current sub-range; hand
    /// it back with ReleaseSubProgress.
    virtual KsProgressInterface* GetSubProgress() { return this; }
    /// How far StepBy moves the position per call.
    virtual void SetStepSize(std::uint16_t step) { (void)step; }
    /// The position inside the sub-range.
    virtual void SetSubPosition(std::int32_t position) { (void)position; }
    /// The position in the main range.
    virtual std::int32_t GetPosition() { return 0; }
    /// The position as a percentage of the main range.
    virtual std::int32_t GetPercent() { return 0; }
    /// False when the user asked to stop.
    virtual bool ShouldContinue() { return true; }
    /// The upper end of the main range.
    virtual std::int32_t GetMaximum() { return GetMinimum(); }
    /// The lower end of the main range.
    virtual std::int32_t GetMinimum() { return 0; }
    /// Milliseconds between two repaints of the display; 0 repaints on every change.
    virtual std::int32_t GetUpdateInterval() { return 0; }
    /// The position inside the sub-range.
    virtual std::int32_t GetSubPosition() { return GetSubRangeStart(); }
    /// How far StepBy moves the position per call.
    virtual std::int32_t GetStepSize() { return 1; }
    /// The upper end of the sub-range.
    virtual std::int32_t GetSubRangeEnd() { return GetSubRangeStart(); }
    /// The lower end of the sub-range.
    virtual std::int32_t GetSubRangeStart() { return 0; }
    /// Display style bits of the implementation; 0 is its plain style.
    virtual std::int32_t GetStyle() { return 0; }
    /// Whether the display offers the user a way to stop.
    virtual void SetCancelable(bool cancelable) { (void)cancelable; }
    /// Called when an operation has finished.
    virtual void Finish() {}
    /// Milliseconds between two repaints; 0 repaints on every change.
    virtual void SetUpdateInterval(std::int32_t milliseconds) { (void)milliseconds; }
    /// The child obtained from GetSubProgress is no longer used.
    virtual void ReleaseSubProgress(KsProgressInterface* child) { (void)child; }
    /// Called after the range has been set and before the work starts.
    virtual void Begin() {}
    /// Sets the main range and the sub-range at once.
    virtual void SetBounds(std::int32_t minimum, std::int32_t maximum, std::int32_t subStart,
                           std::int32_t subEnd) {
        (void)minimum;
        (void)maximum;
        (void)subStart;
        (void)subEnd;
    }
    /// Sets the title; the library's callers pass 0 as flag.
    virtual void SetTitle(const char* text, std::int32_t flag) {
        (void)text;
        (void)flag;
    }
    /// Sets the title.
    virtual void SetTitle(const char* text) { (void)text; }
    /// Sets the upper end of the main range.
    virtual void SetMaximum(std::int32_t maximum) { (void)maximum; }
    /// Sets the lower end of the main range.
    virtual void SetMinimum(std::int32_t minimum) { (void)minimum; }
    /// Sets the detail line under the title.
    virtual void SetDetail(const char* text) { (void)text; }
    /// Shows a percentage of the main range; false when the user asked to stop.
    virtual bool SetPercent(std::int32_t percent) {
        (void)percent;
        return true;
    }
    /// Sets the position in the main range.
    virtual void SetPosition(std::int32_t position) { (void)position; }
    /// Sets both ends so that the minimum never passes the maximum on the way.
    virtual void SetRange(std::int32_t minimum, std::int32_t maximum);
    /// A line of status text under the detail.
    virtual void SetStatus(const char* text) { (void)text; }
    /// Sets both ends of the sub-range so that its start never passes its end on the way.
    virtual void SetSubRange(std::int32_t start, std::int32_t end);
    /// Moves the position by `steps` times the step size.
    virtual void StepBy(std::int32_t steps) { (void)steps; }
    /// Sets the upper end of the sub-range.
    virtual void SetSubRangeEnd(std::int32_t end) { (void)end; }
    /// Sets the lower end of the sub-range.
    virtual void SetSubRangeStart(std::int32_t start) { (void)start; }
    /// Sets the display style bits (see GetStyle).
    virtual void SetStyle(std::int32_t style) { (void)style; }
    /// The caption of the window that shows the progress.
    virtual void SetCaption(const char* text) { (void)text; }
    /// Repaints the display now.
    virtual void Refresh() {}

protected:
    KsProgressInterface() = default;
    /// @{
    /// Copying is for implementations that copy their own state.
    KsProgressInterface(const KsProgressInterface&) = default;
    KsProgressInterface& operator=(const KsProgressInterface&) = default;
    /// @}
};

/// @{
/// Formats a title or a detail of at most min(maxLength, 1023) characters and passes it to
/// SetTitle(text) or SetDetail.
KS_PRINTF(3, 4)
void SetTitlef(KsProgressInterface& progress, std::uint32_t maxLength, const char* format, ...);
KS_PRINTF(3, 4)
void SetDetailf(KsProgressInterface& progress, std::uint32_t maxLength, const char* format, ...);
/// @}
