#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "values/KsFilter.h"
#include "core/KsString.h"
#include "values/KsStringException.h"

/// The filter of text fields: a picture string whose characters take input or add
/// literal text. "#" takes a digit, "?" a letter, "&" a letter shown in upper case, "@"
/// any character, "!" any character shown in upper case; ";" makes the next character a
/// literal; any other character is a literal. "{...}" groups, "[...]" is an optional part
/// taken whole or dropped whole, "*n" repeats the next group or character n times and "*"
/// repeats it while input remains. Unfiltering reads a shown text back through the same
/// picture: literals must match and are dropped, other characters are copied unchanged.
///
/// Stream form: a header (marker 2, version 520), the picture and the missing text as C
/// strings.
class KsStringFilter : public KsFilter {
public:
    KsStringFilter() = default;
    /// A filter with a checked picture.
    explicit KsStringFilter(const char* picture);
    /// @{
    /// Copies picture and missing text.
    KsStringFilter(const KsStringFilter& other) = default;
    KsStringFilter& operator=(const KsStringFilter& other) = default;
    /// @}
    ~KsStringFilter() override = default;

    std::unique_ptr<KsFilter> Clone() const override;
    const char* GetClassnameCString() const override { return "KsStringFilter"; }
    std::uint8_t GetFilterType() const override { return KsFilter::kStringFilter; }
    /// @{
    /// The forms of KsFilter without a progress display.
    using KsFilter::Read;
    using KsFilter::Write;
    /// @}
    /// "Picture String Filter" and "Missing String"; the picture is checked, and an empty
    /// or missing one is the filter without a picture, as Write stores it.
    void Read(KsIniSection& section, KsProgressInterface& progress) override;
    void Read(KsInputStreamInterface& stream, KsProgressInterface& progress) override;
    void Write(KsIniSection& section, KsProgressInterface& progress) const override;
    void Write(KsOutputStreamInterface& stream, KsProgressInterface& progress) const override;
    /// Takes over the other filter's picture and missing text.
    void Copy(const KsStringFilter& other) { *this = other; }
    /// Empties the picture and the missing text.
    void ResetValues();

    /// Replaces `text` by its shown form; the empty text becomes the missing text. Input
    /// that does not fit the picture fails with "Filter Error" (KsStringException).
    void FilterValue(KsString& text) const;
    /// Replaces a shown text by the value it was made from; the missing text gives the
    /// empty text. A text that does not fit fails with "Unfilter Error".
    void UnfilterValue(KsString& text) const;

    /// Checks the picture (SyntaxCheck) and keeps it; a refused picture changes nothing.
    void SetPictureString(const char* picture);
    /// The picture; empty for a filter without one.
    const char* GetPictureString() const { return picture_.GetCString(); }
    /// Sets the text shown for an empty value; null empties it.
    void SetMissingString(const char* text) { missing_ = text; }
    /// The text shown for an empty value.
    const char* GetMissingString() const { return missing_.GetCString(); }

    /// Raises KsStringException with the code of the first rule the picture breaks: 1 empty,
    /// 2 unescaped ",", 4 ";" at the end, 3 braces, 5 the optional part, 6 repeats.
    static void SyntaxCheck(const char* picture);

    /// Whether picture and missing text are equal.
    bool operator==(const KsStringFilter& other) const {
        return picture_ == other.picture_ && missing_ == other.missing_;
    }

private:
    // A picture read back: checked, or none when empty.
    void TakeStoredPicture(const char* picture);

    KsString picture_;
    KsString missing_;
};
