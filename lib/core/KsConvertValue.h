#pragma once
/// @file
/// Strict conversion of a text typed by a user or read from a text file into a number or
/// a truth value. Each overload checks the syntax and the range of its type and throws a
/// KsMalformedDataException naming the field type letter of that type; the result is
/// left unchanged by a failed conversion. No overload skips trailing whitespace; leading
/// whitespace (" \t\r\n") is skipped only when allowed.

#include <cstdint>

#include "core/KsException.h"
#include "core/KsString.h"

/// A text that does not convert to the wanted type. Keeps the field type letter of the
/// type ('N' double, 'W' unsigned long, 'I' long, 'U' unsigned short, 'S' short, 'L'
/// Boolean) and a copy of the text.
class KsMalformedDataException : public virtual KsException {
public:
    KsMalformedDataException() = default;

    /// The field type letter of the type the text was meant for.
    char GetTypeLetter() const { return typeLetter_; }
    /// The text that did not convert.
    const char* GetText() const { return text_.GetCString(); }

    /// Throws with the message formatted from `format` and the arguments after className.
    KS_PRINTF(1, 5)
    [[noreturn]] static void Generate(const char* format, char typeLetter, const char* text,
                                      const char* className, ...);

private:
    char typeLetter_ = '\0';
    KsString text_;
};

/// Any text the C library's text-to-double conversion reads whole, in the "C" locale
/// whatever the process locale. Leading blanks are refused unless allowed.
void KsConvertValue(double& result, const char* text, bool allowLeadingWhitespace);
/// @{
/// Digits with an optional "+" (and "-" for the signed types), within the type's range;
/// an empty text gives 0.
void KsConvertValue(std::uint32_t& result, const char* text, bool allowLeadingWhitespace);
void KsConvertValue(std::int32_t& result, const char* text, bool allowLeadingWhitespace);
void KsConvertValue(std::uint16_t& result, const char* text, bool allowLeadingWhitespace);
void KsConvertValue(std::int16_t& result, const char* text, bool allowLeadingWhitespace);
/// @}
/// True for "1", "Y", "YES", "T" and "TRUE" in any case after leading whitespace; false
/// for any other text. Fails only for a leading space or tab when that is not allowed.
void KsConvertValue(bool& result, const char* text, bool allowLeadingWhitespace);
