#include "platform/KsSystemError.h"

#include <cstdarg>
#include <cstring>

std::string KsSystemErrorText(int errorNumber) {
    char text[1024];
    // The GNU strerror_r returns the text, which need not be in `text`.
    return strerror_r(errorNumber, text, sizeof text);
}

void KsThrowSystemError(int errorNumber, const char* className, const char* format, ...) {
    va_list args;
    va_start(args, format);
    KsException formatted(format, className, 0, args);
    va_end(args);
    std::string message = formatted.GetErrorMessage();
    message += KsSystemErrorText(errorNumber);
    // "%s" keeps a percent sign in a file name or in the system text from being a conversion.
    KsException::Generate("%s", className, message.c_str());
}
