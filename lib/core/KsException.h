#pragma once
/// @file
/// The library's exception family, KsException and its subclasses.

#include <cstdarg>
#include <cstdint>
#include <exception>
#include <new>
#include <string>

/// Marks a printf-style function: argument `fmt` is the format, `first` the first
/// argument it formats (0 for a va_list), so that the compiler checks the arguments.
#define KS_PRINTF(fmt, first) [[gnu::format(printf, fmt, first)]]

/// The library's one exception type, base of the family: every error the library raises is
/// a KsException or a subclass, never a return code.
///
/// It carries a formatted message, the name of the class that raised it, a level and a
/// call path to which each function the error passes through adds one line (innermost
/// first, lines joined by "\r\n"). Handlers that catch it by reference and throw it on
/// keep adding to the same object; user interfaces show GetErrorMessage() alone.
///
/// It is a std::exception whose what() is the message, so that an error no handler of the
/// library's catches still shows what went wrong (in a test runner, at std::terminate).
class KsException : public std::exception {
public:
    /// An empty error of level 0.
    KsException() = default;
    /// @{
    /// The message from a printf-style format; a null format leaves the message empty, a
    /// null class name leaves the class name empty. The level is kept in 8 bits.
    KS_PRINTF(2, 5) KsException(const char* format, const char* className, unsigned level, ...);
    KS_PRINTF(2, 0)
    KsException(const char* format, const char* className, unsigned level, va_list args);
    /// @}
    /// Wraps a standard exception: its what() becomes the message; a given function
    /// adds the first call-path line.
    KsException(const std::exception& e, const char* function, const char* className);
    /// @{
    /// Copies message, class name, call path and level.
    KsException(const KsException&) = default;
    KsException& operator=(const KsException&) = default;
    /// @}
    ~KsException() override = default;

    /// The message without the call path; valid as long as the object.
    virtual const char* GetErrorMessage() const { return message_.c_str(); }
    /// The message, for handlers of std::exception.
    const char* what() const noexcept override { return GetErrorMessage(); }
    /// The call-path lines, innermost first, joined by "\r\n"; empty when none was added.
    const char* GetCallpath() const { return callpath_.c_str(); }
    /// The name of the class that raised the error.
    const char* GetClassName() const { return className_.c_str(); }
    /// The severity the raiser gave; 0 for most errors, 3 for KsNotImplementedError.
    std::uint8_t GetLevel() const { return level_; }

    /// Adds one line "function of className (detail)"; each part may be null and is then
    /// left out.
    void AddCallpath(const char* function, const char* className, const char* detail);

    /// Builds a KsException with level 0 from the format and throws it.
    KS_PRINTF(1, 3)
    [[noreturn]] static void Generate(const char* format, const char* className, ...);
    /// As Generate, with the strerror text of errno after the message, or in front of
    /// it when prependSystemText is true.
    KS_PRINTF(1, 4)
    [[noreturn]] static void GenerateWithSystemError(const char* format, bool prependSystemText,
                                                     const char* className, ...);
    /// Throws an exception of type E (a default-constructible member of the family)
    /// with the formatted message and the class name.
    template <class E>
    KS_PRINTF(1, 3)
    [[noreturn]] static void GenerateAs(const char* format, const char* className, ...);

protected:
    /// Replaces the message by the formatted text.
    KS_PRINTF(2, 0) void SetMessageV(const char* format, va_list args);
    /// Replaces the message; null empties it.
    void SetMessage(const char* message) { message_ = message ? message : ""; }
    /// Replaces the class name; null empties it.
    void SetClassName(const char* className) { className_ = className ? className : ""; }
    /// Sets the level, kept in 8 bits.
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

/// An error that concerns one file; the file name is kept beside the message.
class KsFileException : public virtual KsException {
public:
    /// An empty error with no file name.
    KsFileException() = default;
    /// The file the error concerns; empty when none was given.
    const char* GetFileName() const { return fileName_.c_str(); }
    /// Replaces the file name; null empties it.
    void SetFileName(const char* fileName) { fileName_ = fileName ? fileName : ""; }

    /// Throws a KsFileException with the formatted message, the class name and the file
    /// name (null: none).
    KS_PRINTF(1, 4)
    [[noreturn]] static void Generate(const char* format, const char* className,
                                      const char* fileName, ...);

private:
    std::string fileName_;
};

/// An operation that a class does not provide; level 3.
class KsNotImplementedError : public virtual KsException {
public:
    /// An empty error of level 3.
    KsNotImplementedError() { SetLevel(3); }
    /// Throws a KsNotImplementedError with the formatted message and the class name.
    KS_PRINTF(1, 3)
    [[noreturn]] static void Generate(const char* format, const char* className, ...);
};

/// A long operation stopped because its progress interface asked it to.
class KsCanceledException : public virtual KsException {};
/// A copy of records between tables cancelled through its progress interface.
class KsFileCanceledException : public KsCanceledException {};
/// An index build cancelled through its progress interface.
class KsIndexBuildCanceled : public KsCanceledException {};
/// A sort cancelled through its progress interface.
class KsSortCanceledException : public KsCanceledException {};
/// A file copy cancelled through its progress interface.
class KsIOCanceledException : public KsCanceledException {};
/// A commit cancelled through its progress interface.
class KsCommissionCanceled : public virtual KsException, public virtual KsCanceledException {};
/// A field named that the table does not have.
class KsFieldNotFoundException : public virtual KsException {};
/// A file that could not be opened.
class KsFileOpenFailedException : public virtual KsException {};
/// Text a tokenizer cannot split, such as a group without its end delimiter.
class KsStringTokenizerException : public virtual KsException {};
/// A transaction that cannot be started, logged, committed or rolled back.
class KsTransactionException : public virtual KsException {};
/// A change that failed and was undone (the table is as it was before it).
class KsCommitFailure : public KsTransactionException {};
/// A change that failed and could not be undone either (the table may be half-changed).
class KsRollbackFailure : public KsTransactionException {};

/// An allocation failure; caught by handlers of KsException and of std::bad_alloc alike.
/// Being both, it holds two std::exception bases, so a handler of std::exception alone
/// does not catch it: catch KsException (or std::bad_alloc) before std::exception.
class KsMemoryException : public std::bad_alloc, public virtual KsException {
public:
    /// An error with an empty message.
    KsMemoryException() = default;
    /// An error with the given message.
    explicit KsMemoryException(const char* message) { SetMessage(message); }
    /// The message, for handlers of std::bad_alloc.
    const char* what() const noexcept override { return GetErrorMessage(); }
};

/// A record action that cannot be carried out or undone.
class KsRecordActionException : public KsException {};
/// A record action of a kind the reader does not know.
class KsRecordActionUnknown : public KsRecordActionException {};
/// A filter that cannot show or read a value.
class KsFilterException : public KsException {};
/// A text a filter cannot read back into a value.
class KsFilterUninterpretableStringException : public KsFilterException {};
/// A filter name the filter registry does not know, or a prototype it cannot register.
class KsFilterRegistryException : public KsFilterException {};
/// Stream bytes that do not form the object being read.
class KsIOStreamingException : public KsException {};
