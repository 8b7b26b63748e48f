#include "core/KsException.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

KsException::KsException(const char* format, const char* className, unsigned level, ...) {
    va_list args;
    va_start(args, level);
    SetMessageV(format, args);
    va_end(args);
    SetClassName(className);
    SetLevel(level);
}

KsException::KsException(const char* format, const char* className, unsigned level, va_list args) {
    SetMessageV(format, args);
    SetClassName(className);
    SetLevel(level);
}

KsException::KsException(const std::exception& e, const char* function, const char* className) {
    SetMessage(e.what());
    SetClassName(className);
    if (function) {
        AddCallpath(function, className, nullptr);
    }
}

void KsException::SetMessageV(const char* format, va_list args) {
    if (!format) {
        message_.clear();
        return;
    }
    // Measure first, then print into exactly the room needed.
    va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length < 0) {
        message_ = format;
        return;
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    message_ = std::move(text);
}

void KsException::AddCallpath(const char* function, const char* className, const char* detail) {
    std::string line;
    if (function) {
        line += function;
    }
    if (className) {
        line += " of ";
        line += className;
    }
    if (detail) {
        line += " (";
        line += detail;
        line += ')';
    }
    if (!callpath_.empty()) {
        callpath_ += "\r\n";
    }
    callpath_ += line;
}

void KsException::Generate(const char* format, const char* className, ...) {
    va_list args;
    va_start(args, className);
    KsException error(format, className, 0, args);
    va_end(args);
    throw error;
}

void KsException::GenerateWithSystemError(const char* format, bool prependSystemText,
                                          const char* className, ...) {
    // Take the error text before anything else can change errno.
    char systemText[4096];
    const char* text = strerror_r(errno, systemText, sizeof systemText);
    va_list args;
    va_start(args, className);
    KsException error(format, className, 0, args);
    va_end(args);
    std::string message = error.GetErrorMessage();
    error.SetMessage((prependSystemText ? text + message : message + text).c_str());
    throw error;
}

void KsFileException::Generate(const char* format, const char* className, const char* fileName,
                               ...) {
    KsFileException error;
    va_list args;
    va_start(args, fileName);
    error.SetMessageV(format, args);
    va_end(args);
    error.SetClassName(className);
    error.SetFileName(fileName);
    throw error;
}

void KsNotImplementedError::Generate(const char* format, const char* className, ...) {
    KsNotImplementedError error;
    va_list args;
    va_start(args, className);
    error.SetMessageV(format, args);
    va_end(args);
    error.SetClassName(className);
    throw error;
}
