#pragma once
/// @file
/// Character classes and trimming for texts of single bytes. They do not depend on the
/// locale: only the ASCII digits and letters count as such, and a byte above 127 (a letter
/// of a Windows code page, a piece of a UTF-8 character) is never a digit, a letter or a
/// blank, whatever the sign of char.
///
/// Two trimming rules are in use: blanks and control bytes (every byte of value 32 or
/// less, the rule of KsDeblank and of ini files) and spaces and tabs only (the rule of
/// texts typed into a format line).

#include <string_view>

namespace KsText {

/// One of the ASCII digits '0' to '9'.
constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

/// One of the ASCII letters 'a' to 'z' and 'A' to 'Z'.
constexpr bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/// 'a' to 'z' become 'A' to 'Z'; every other byte is kept.
constexpr char ToUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// A byte of value 32 or less: space, tab, line ends and the other control bytes.
constexpr bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

/// A space or a tab.
constexpr bool IsSpaceOrTab(char c) {
    return c == ' ' || c == '\t';
}

/// `text` without its leading characters for which `drop` holds.
template <class Predicate>
constexpr std::string_view TrimLeft(std::string_view text, Predicate drop) {
    std::size_t first = 0;
    while (first < text.size() && drop(text[first])) {
        ++first;
    }
    return text.substr(first);
}

/// `text` without its trailing characters for which `drop` holds.
template <class Predicate>
constexpr std::string_view TrimRight(std::string_view text, Predicate drop) {
    std::size_t length = text.size();
    while (length > 0 && drop(text[length - 1])) {
        --length;
    }
    return text.substr(0, length);
}

/// `text` without its leading and trailing characters for which `drop` holds.
template <class Predicate>
constexpr std::string_view Trim(std::string_view text, Predicate drop) {
    return TrimRight(TrimLeft(text, drop), drop);
}

/// Both ends without bytes of value 32 or less.
constexpr std::string_view TrimBlanksAndControls(std::string_view text) {
    return Trim(text, IsBlankOrControl);
}

/// Both ends without spaces and tabs; line ends and other control bytes are kept.
constexpr std::string_view TrimSpacesAndTabs(std::string_view text) {
    return Trim(text, IsSpaceOrTab);
}

}  // namespace KsText
