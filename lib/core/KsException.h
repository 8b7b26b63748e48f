#pragma once
// The library's one exception family. Every error carries a formatted message,
// the name of the class that raised it and a call path to which each function
// the error passes through adds one line (innermost first, lines joined by "\r\n").

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <new>
#include <string>

#define KS_PRINTF(fmt, first) [[gnu::format(printf, fmt, first)]]

class KsException {
public:
    KsException() = default;
    // Message from a printf-style format; a null format leaves the message empty,
    // a null class name leaves the class name empty. The level is kept in 8 bits.
    KS_PRINTF(2, 5) KsException(const char* format, const char* className, unsigned level, ...);
    KS_PRINTF(2, 0)
    KsException(const char* format, const char* className, unsigned level, va_list args);
    // Wraps a standard exception: its what() becomes the message; a given function
    // adds the first call-path line.
    KsException(const std::exception& e, const char* function, const char* className);
    KsException(const KsException&) = default;
    KsException& operator=(const KsException&) = default;
    virtual ~KsException() = default;

    virtual const char* GetErrorMessage() const { return message_.c_str(); }
    const char* GetCallpath() const { return callpath_.c_str(); }
    const char* GetClassName() const { return className_.c_str(); }
    std::uint8_t GetLevel() const { return level_; }

    // Adds one line "function of className (detail)"; each part may be null.
    void AddCallpath(const char* function, const char* className, const char* detail);

    // Builds a KsException with level 0 and throws it.
    KS_PRINTF(1, 3)
    [[noreturn]] static void Generate(const char* format, const char* className, ...);
    // As Generate, with the strerror text of errno after the message, or in front of
    // it when prependSystemText is true.
    KS_PRINTF(1, 4)
    [[noreturn]] static void GenerateWithSystemError(const char* format, bool prependSystemText,
                                                     const char* className, ...);
    // Throws an exception of type E (a default-constructible member of the family)
    // with the formatted message and the class name.
    template <class E>
    KS_PRINTF(1, 3)
    [[noreturn]] static void GenerateAs(const char* format, const char* className, ...);

protected:
    KS_PRINTF(2, 0) void SetMessageV(const char* format, va_list args);
    void SetMessage(const char* message) { message_ = message ? message : ""; }
    void SetClassName(const char* className) { className_ = className ? className : ""; }
    void SetLevel(unsigned level) { level_ = static_cast<std::uint8_t>(level); }

private:
    std::string message_;
    std::string className_;
    std::string callpath_;
    std::uint8_t level_ = 0;
};

template <class E>
void KsException::GenerateAs(const char* format, const char* className, ...) {
    E error;
    va_list args;
    va_start(args, className);
    error.SetMessageV(format, args);
    va_end(args);
    error.SetClassName(className);
    throw error;
}

// Errors that concern one file; the file name is kept beside the message.
class KsFileException : public virtual KsException {
public:
    KsFileException() = default;
    const char* GetFileName() const { return fileName_.c_str(); }
    void SetFileName(const char* fileName) { fileName_ = fileName ? fileName : ""; }

    KS_PRINTF(1, 4)
    [[noreturn]] static void Generate(const char* format, const char* className,
                                      const char* fileName, ...);

private:
    std::string fileName_;
};

// An operation that a class does not provide; level 3.
class KsNotImplementedError : public virtual KsException {
public:
    KsNotImplementedError() { SetLevel(3); }
    KS_PRINTF(1, 3)
    [[noreturn]] static void Generate(const char* format, const char* className, ...);
};

class KsCanceledException : public virtual KsException {};
class KsFileCanceledException : public KsCanceledException {};
class KsIndexBuildCanceled : public KsCanceledException {};
class KsSortCanceledException : public KsCanceledException {};
class KsIOCanceledException : public KsCanceledException {};
class KsCommissionCanceled : public virtual KsException, public virtual KsCanceledException {};
class KsFieldNotFoundException : public virtual KsException {};
class KsFileOpenFailedException : public virtual KsException {};
class KsStringTokenizerException : public virtual KsException {};
class KsTransactionException : public virtual KsException {};
// A change that failed and was undone (the table is as it was before it).
class KsCommitFailure : public KsTransactionException {};
// A change that failed and could not be undone either (the table may be half-changed).
class KsRollbackFailure : public KsTransactionException {};

// Allocation failure; caught by handlers of KsException and of std::bad_alloc alike.
class KsMemoryException : public std::bad_alloc, public virtual KsException {
public:
    KsMemoryException() = default;
    explicit KsMemoryException(const char* message) { SetMessage(message); }
    const char* what() const noexcept override { return GetErrorMessage(); }
};

class KsRecordActionException : public KsException {};
class KsRecordActionUnknown : public KsRecordActionException {};
class KsFilterException : public KsException {};
class KsFilterUninterpretableStringException : public KsFilterException {};
class KsFilterRegistryException : public KsFilterException {};
class KsIOStreamingException : public KsException {};
