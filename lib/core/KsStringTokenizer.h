#pragma once
/// @file

#include <cstdint>

#include "core/KsException.h"
#include "core/KsString.h"
#include "core/KsVector.h"

/// Text utilities of the foundation layer.
///
/// KsStringTokenizer splits a text at a delimiter string (the whole string separates;
/// its characters are not a set). Optionally a group begins and ends with delimiters of
/// its own and is one token whatever it holds. All tokens are produced when the text is
/// set; GetNextToken only walks them.
///
/// KsDeblank trims blanks and control characters from a text in place; KsCopyString
/// replaces an owned text by a fresh copy with spare room.
class KsStringTokenizer {
public:
    /// Copies the texts and splits `text` (null counts as empty). Without a group end the
    /// group end is the group begin; a group end without a group begin is an error, and so
    /// is an empty delimiter. Unless keepSpaces is set, spaces in front of each token are
    /// skipped; keepGroupDelimiters keeps a group's begin and end in its token.
    KsStringTokenizer(const char* text, const char* delimiter, const char* groupBegin = nullptr,
                      bool keepGroupDelimiters = false, const char* groupEnd = nullptr,
                      bool keepSpaces = false);
    virtual ~KsStringTokenizer() = default;

    /// Replaces the text, forgets the old tokens and splits again. A failed split keeps
    /// the tokens found before the failure.
    void SetString(const char* text);

    /// The next token, still owned by the tokenizer and valid until the text is replaced or
    /// the tokenizer destroyed. Past the last token the vector's index error is thrown.
    KsString* GetNextToken();
    /// Tokens not yet returned.
    std::uint32_t GetNumTokens() const;
    /// Where token `index` (counted from 0) starts in the text; for a group token whose
    /// delimiters are dropped, just behind the group begin.
    std::int32_t GetTokenStart(std::int32_t index) const { return tokenStarts_[index]; }

private:
    void Parse(std::int32_t start);
    bool TextBeginsAt(std::uint32_t position, const KsString& s) const;
    /// Index of `s` at or after `start`, or -1.
    std::int32_t FindFrom(const KsString& s, std::uint32_t start) const;
    void AddToken(std::uint32_t start, std::uint32_t end);

    KsString text_;
    KsString delimiter_;
    KsString groupBegin_;
    KsString groupEnd_;
    bool keepGroupDelimiters_;
    bool keepSpaces_;
    std::int32_t position_ = 0;
    KsPointerVector<KsString> tokens_;
    KsVector<std::int32_t> tokenStarts_;
    std::uint32_t cursor_ = 0;
    std::uint32_t length_ = 0;
};

/// Trims `s` in place and returns it: on the right every trailing byte of value 32 or
/// less, on the left every leading byte of value 1 to 32. Throws for a null `s`.
char* KsDeblank(char* s, bool left = true, bool right = true);

/// Replaces *target (a block from KsAlloc, or null) by a KsAlloc copy of `source` with room
/// for `extra` more characters and returns it; a null source gives an empty text. Nothing
/// happens when *target already is `source`. Throws for a null target.
char* KsCopyString(char** target, const char* source, std::uint16_t extra = 0);
