#include "values/KsStringException.h"

void KsStringException::Generate(std::uint8_t code, const char* format, const char* className,
                                 ...) {
    KsStringException error;
    va_list args;
    va_start(args, className);
    error.SetMessageV(format, args);
    va_end(args);
    error.SetClassName(className);
    error.code_ = code;
    throw error;
}
