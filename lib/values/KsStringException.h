#pragma once
/// @file

#include <cstdarg>
#include <cstdint>

#include "core/KsException.h"

/// The failure of picture-string checks and of filtering through a picture. Beside the
/// message it carries a code that tells which rule failed.
class KsStringException : public virtual KsException {
public:
    /// The rule that failed.
    enum Code : std::uint8_t {
        kEmptyPicture = 1,        ///< the picture is empty
        kUnsupportedOption = 2,   ///< the picture uses an option the filter lacks
        kGroupSyntax = 3,         ///< a group is malformed
        kLiteralSequence = 4,     ///< a literal escape is malformed
        kOptionalSyntax = 5,      ///< an optional part is malformed
        kRepeatSyntax = 6,        ///< a repeat count is malformed
        kFilterFailed = 7,        ///< a value does not fit the picture
        kUnfilterCharFailed = 8,  ///< a typed character does not fit the picture
    };

    KsStringException() = default;
    /// The Code of the rule that failed; 0 for an exception made without one.
    std::uint8_t GetErrorCode() const { return code_; }

    /// Throws with the code, the formatted message and the raising class.
    KS_PRINTF(2, 4)
    [[noreturn]] static void Generate(std::uint8_t code, const char* format, const char* className,
                                      ...);

private:
    std::uint8_t code_ = 0;
};
