#include "platform/KsSystemError.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>

std::string KsSystemErrorText(int errorNumber) {
    char text[1024];
    // The GNU strerror_r returns the text, which need not be in `text`.
    return strerror_r(errorNumber, text, sizeof text);
}

std::string KsOpenFailureText(int errorNumber) {
    switch (errorNumber) {
        case ENOENT:
        case ENOTDIR:
            return "No such file or directory.";
        case EMFILE:
        case ENFILE:
            return "Too many open files.";
        case EACCES:
        case EPERM:
        case EROFS:
            return "Permission denied.";
        case EINVAL:
            return "Invalid access code.";
        default:
            return KsSystemErrorText(errorNumber) + ".";
    }
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
