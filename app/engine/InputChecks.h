#pragma once
// The checks both front ends run before a conversion, in this order; the first that
// fails gives the warning shown to the user (caption "Warning").

#include <optional>
#include <string>

struct ConversionInputs {
    std::string inputFile;
    std::string outputFile;
    bool insertHeaderField = true;
    std::string headerSizeText;  // as typed: one or two digits when the insertion is on
};

// The warning text of the first failing check, or nothing when all pass.
std::optional<std::string> CheckConversionInputs(const ConversionInputs& inputs);

// Header size of valid inputs (0 when the insertion is off).
unsigned ParseHeaderSize(const ConversionInputs& inputs);

// True for the header sizes the window accepts: one or two digits.
bool IsValidHeaderSizeText(const std::string& text);

// True when both names exist and refer to the same file (device and inode).
bool IsSameFile(const std::string& first, const std::string& second);

inline constexpr const char* kWarningCaption = "Warning";
