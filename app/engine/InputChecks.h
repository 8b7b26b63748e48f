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
    std::string layoutFile;      // the column layout's file, empty when none is written
};

// The warning text of the first failing check, or nothing when all pass.
std::optional<std::string> CheckConversionInputs(const ConversionInputs& inputs);

// Header size of valid inputs (0 when the insertion is off).
unsigned ParseHeaderSize(const ConversionInputs& inputs);

// True for the header sizes the window accepts: one or two digits.
bool IsValidHeaderSizeText(const std::string& text);

// True when both names exist and refer to the same file (device and inode) that cannot
// be read and written at once without damage: a regular file or a FIFO. One terminal or
// device may well be both the input and the output.
bool IsSameFile(const std::string& first, const std::string& second);
// The same for two open descriptors, such as standard input and standard output.
bool IsSameFile(int first, int second);

inline constexpr const char* kWarningCaption = "Warning";
// The warnings a front end may want to word its own way.
inline constexpr const char* kHeaderSizeWarning = "Please enter a valid scanner header length.";
inline constexpr const char* kSameFileWarning =
    "You cannot choose the same file name for the input and the output.";
inline constexpr const char* kLayoutSameFileWarning =
    "You cannot choose the file name of the input or the output for the column layout.";
