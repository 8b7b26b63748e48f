#pragma once
/// @file

#include <cstdarg>
#include <cstdint>

#include "core/KsException.h"

/// The failure of picture-string checks and of filtering through a picture. Beside the
/// message it carries a code that tells which rule failed.
class KsStringException : public virtual KsException {
public:
    enum Code : std::uint8_t {
        kEmptyPicture = 1,
        kUnsupportedOption = 2,
        kGroupSyntax = 3,
        kLiteralSequence = 4,
        kOptionalSyntax = 5,
        kRepeatSyntax = 6,
        kFilterFailed = 7,
        kUnfilterCharFailed = 8,
    };

    KsStringException() = default;
    std::uint8_t GetErrorCode() const { return code_; }

    /// Throws with the code, the formatted message and the raising class.
    KS_PRINTF(2, 4)
    [[noreturn]] static void Generate(std::uint8_t code, const char* format, const char* className,
                                      ...);

private:
    std::uint8_t code_ = 0;
};
