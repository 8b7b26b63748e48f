#include "core/KsStringTokenizer.h"

#include <cstring>
#include <memory>
#include <string_view>

#include "core/KsAlloc.h"
#include "core/KsText.h"

namespace {

constexpr const char* kTokenizerClass = "KsStringTokenizer";

bool IsEmptyText(const char* s) {
    return s == nullptr || *s == '\0';
}

}  // namespace

KsStringTokenizer::KsStringTokenizer(const char* text, const char* delimiter,
                                     const char* groupBegin, bool keepGroupDelimiters,
                                     const char* groupEnd, bool keepSpaces)
    : text_(text),
      delimiter_(delimiter),
      groupBegin_(groupBegin),
      groupEnd_(groupEnd),
      keepGroupDelimiters_(keepGroupDelimiters),
      keepSpaces_(keepSpaces) {
    // An empty delimiter matches everywhere and would never let the split move on.
    if (delimiter_.IsEmpty()) {
        KsException::Generate("The delimeter must not be empty.", kTokenizerClass);
    }
    if (IsEmptyText(groupEnd)) {
        groupEnd_ = groupBegin_;
    } else if (IsEmptyText(groupBegin)) {
        KsException::Generate("Group end delimeter specified without a group begin delimeter.",
                              kTokenizerClass);
    }
    Parse(0);
}

void KsStringTokenizer::SetString(const char* text) {
    if (text == nullptr) {
        KsException::Generate("Cannot tokenize null string.", kTokenizerClass);
    }
    text_ = text;
    tokens_.clear();
    tokenStarts_.clear();
    cursor_ = 0;
    Parse(0);
}

KsString* KsStringTokenizer::GetNextToken() {
    // The cursor moves only when a token is handed out.
    KsString* token = tokens_[static_cast<std::int32_t>(cursor_)];
    ++cursor_;
    return token;
}

std::uint32_t KsStringTokenizer::GetNumTokens() const {
    return static_cast<std::uint32_t>(tokens_.size()) - cursor_;
}

bool KsStringTokenizer::TextBeginsAt(std::uint32_t position, const KsString& s) const {
    std::uint32_t n = s.GetLength();
    return position <= length_ && n <= length_ - position &&
           std::memcmp(text_.GetCString() + position, s.GetCString(), n) == 0;
}

std::int32_t KsStringTokenizer::FindFrom(const KsString& s, std::uint32_t start) const {
    std::uint32_t found = text_.Find(s, start);
    return found == KsString::npos ? -1 : static_cast<std::int32_t>(found);
}

void KsStringTokenizer::AddToken(std::uint32_t start, std::uint32_t end) {
    auto token = std::make_unique<KsString>();
    token->Append(text_.GetCString() + start, end - start);
    tokenStarts_.push_back(static_cast<std::int32_t>(start));
    tokens_.Add(std::move(token));
}

void KsStringTokenizer::Parse(std::int32_t start) {
    length_ = text_.GetLength();
    const char* text = text_.GetCString();
    const std::uint32_t delimiterLength = delimiter_.GetLength();
    const std::uint32_t beginLength = groupBegin_.GetLength();
    const std::uint32_t endLength = groupEnd_.GetLength();

    position_ = start;
    while (position_ >= 0) {
        auto position = static_cast<std::uint32_t>(position_);
        if (!keepSpaces_) {
            while (position < length_ && text[position] == ' ') {
                ++position;
            }
        }
        std::uint32_t tokenStart = position;
        std::uint32_t tokenEnd;
        if (beginLength > 0 && TextBeginsAt(position, groupBegin_)) {
            std::int32_t groupEnd = FindFrom(groupEnd_, position + beginLength);
            if (groupEnd < 0) {
                position_ = -1;
                KsException::GenerateAs<KsStringTokenizerException>(
                    "A group token has no end delimeter.\nCannot retrieve token as "
                    "specified.\nPlease correct.\n\n",
                    kTokenizerClass);
            }
            auto endAt = static_cast<std::uint32_t>(groupEnd);
            std::uint32_t searchFrom;
            if (keepGroupDelimiters_) {
                tokenEnd = endAt + endLength;
                searchFrom = endAt;
            } else {
                tokenStart = position + beginLength;
                tokenEnd = endAt;
                searchFrom = endAt + endLength;
            }
            // Whatever stands between the group's end and the next delimiter is dropped.
            position_ = FindFrom(delimiter_, searchFrom);
        } else {
            position_ = FindFrom(delimiter_, position);
            tokenEnd = position_ >= 0 ? static_cast<std::uint32_t>(position_) : length_;
        }
        AddToken(tokenStart, tokenEnd);

        // Every search above stops at a delimiter; the next token starts behind it.
        if (position_ >= 0) {
            position_ += static_cast<std::int32_t>(delimiterLength);
        }
    }
}

char* KsDeblank(char* s, bool left, bool right) {
    if (s == nullptr) {
        KsException::Generate("null pointer: sString", "KsDeblank");
    }
    std::string_view kept(s);
    if (right) {
        kept = KsText::TrimRight(kept, KsText::IsBlankOrControl);
    }
    if (left) {
        kept = KsText::TrimLeft(kept, KsText::IsBlankOrControl);
    }
    std::memmove(s, kept.data(), kept.size());
    s[kept.size()] = '\0';
    return s;
}

char* KsCopyString(char** target, const char* source, std::uint16_t extra) {
    if (target == nullptr) {
        KsException::Generate("null pointer: pDest", "KsCopyString");
    }
    if (*target == source) {
        return *target;
    }
    // The new block is filled before the old one is released: the source may lie inside
    // the old block, and a failed allocation leaves *target as it was.
    std::size_t length = source != nullptr ? std::strlen(source) : 0;
    char* copy = KsAlloc(static_cast<std::int64_t>(length) + extra + 1);
    std::memcpy(copy, source != nullptr ? source : "", length + 1);
    delete[] * target;
    *target = copy;
    return copy;
}
