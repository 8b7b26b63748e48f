#include "values/KsStringFilter.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "core/KsCallpath.h"
#include "ini/KsIniFile.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClassName = "KsStringFilter";
constexpr char kStreamMarker = 2;
constexpr std::int16_t kStreamVersion = 520;
constexpr const char* kPictureKey = "Picture String Filter";
constexpr const char* kMissingKey = "Missing String";
// Groups nest at most this deep, so that walking a picture keeps within the stack.
constexpr int kMaximumGroupDepth = 100;
constexpr std::uint32_t kMaximumRepeatCount = 65535;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool TakesInput(char c) {
    return c == '#' || c == '?' || c == '&' || c == '@' || c == '!';
}

bool IsLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char ToUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Marks every character that a ";" escapes.
std::vector<bool> EscapedCharacters(const std::string& picture) {
    std::vector<bool> escaped(picture.size(), false);
    for (std::size_t i = 0; i < picture.size(); ++i) {
        if (picture[i] == ';' && i + 1 < picture.size()) {
            escaped[++i] = true;
        }
    }
    return escaped;
}

// One walk of a picture over an input, in either direction.
class PictureWalk {
public:
    // `picture` already ends in the "}" that closes the whole picture as one group.
    PictureWalk(const std::string& picture, const std::string& input, bool unfilter)
        : picture_(picture), input_(input), unfilter_(unfilter) {
        std::vector<bool> escaped = EscapedCharacters(picture_);
        optionalEnd_ = picture_.size();
        for (std::size_t i = 0; i < picture_.size(); ++i) {
            if (picture_[i] == ']' && !escaped[i]) {
                optionalEnd_ = i + 1;
                break;
            }
        }
    }

    std::string Run() {
        Expression();
        if (inputPos_ < input_.size()) {
            KsStringException::Generate(KsStringException::kFilterFailed, "Filter Error",
                                        kClassName);
        }
        return output_;
    }

private:
    [[noreturn]] void Fail(std::uint8_t code) const {
        KsStringException::Generate(code, unfilter_ ? "Unfilter Error" : "Filter Error",
                                    kClassName);
    }

    // Walks one group up to and past its "}" (the closing "}" of the whole picture is not
    // passed).
    void Expression() {
        while (true) {
            if (picturePos_ >= picture_.size()) {
                Fail(KsStringException::kFilterFailed);
            }
            switch (picture_[picturePos_]) {
                case '{':
                    ++picturePos_;
                    Expression();
                    break;
                case '}':
                    if (picturePos_ + 1 < picture_.size()) {
                        ++picturePos_;
                    }
                    return;
                case ']':
                    ++picturePos_;
                    break;
                case '*':
                    ++picturePos_;
                    if (picturePos_ < picture_.size() && IsDigit(picture_[picturePos_])) {
                        FiniteRepeat();
                    } else {
                        InfiniteRepeat();
                    }
                    break;
                case '[': {
                    std::size_t savedInput = inputPos_;
                    std::size_t savedOutput = output_.size();
                    ++picturePos_;
                    try {
                        Expression();
                        return;
                    } catch (const KsStringException&) {
                        // The optional part is dropped whole.
                        output_.resize(savedOutput);
                        inputPos_ = savedInput;
                        picturePos_ = optionalEnd_;
                    }
                    break;
                }
                default:
                    SingleChar();
            }
            if (inputPos_ > input_.size() || picturePos_ >= picture_.size()) {
                Fail(KsStringException::kFilterFailed);
            }
        }
    }

    void SingleChar() {
        char c = picture_[picturePos_];
        if (c == ';') {
            if (picturePos_ + 1 >= picture_.size()) {
                Fail(KsStringException::kFilterFailed);
            }
            Literal(picture_[picturePos_ + 1]);
            picturePos_ += 2;
            return;
        }
        if (!TakesInput(c)) {
            Literal(c);
            ++picturePos_;
            return;
        }
        std::uint8_t code =
            unfilter_ ? KsStringException::kUnfilterCharFailed : KsStringException::kFilterFailed;
        if (inputPos_ >= input_.size()) {
            Fail(code);
        }
        char in = input_[inputPos_];
        if ((c == '#' && !IsDigit(in)) || ((c == '?' || c == '&') && !IsLetter(in))) {
            Fail(code);
        }
        output_ += !unfilter_ && (c == '&' || c == '!') ? ToUpper(in) : in;
        ++inputPos_;
        ++picturePos_;
    }

    // Shown when filtering; must be matched and is dropped when unfiltering.
    void Literal(char c) {
        if (!unfilter_) {
            output_ += c;
            return;
        }
        if (inputPos_ >= input_.size() || input_[inputPos_] != c) {
            Fail(KsStringException::kUnfilterCharFailed);
        }
        ++inputPos_;
    }

    // Where the group or single character starting at `start` ends.
    std::size_t ElementEnd(std::size_t start) const {
        if (start >= picture_.size()) {
            return picture_.size();
        }
        if (picture_[start] == ';') {
            return std::min(start + 2, picture_.size());
        }
        if (picture_[start] != '{') {
            return start + 1;
        }
        int depth = 0;
        for (std::size_t i = start; i < picture_.size(); ++i) {
            if (picture_[i] == ';') {
                ++i;
            } else if (picture_[i] == '{') {
                ++depth;
            } else if (picture_[i] == '}' && --depth == 0) {
                return i + 1;
            }
        }
        return picture_.size();
    }

    void ApplyElement(std::size_t start) {
        picturePos_ = start;
        if (picture_[start] == '{') {
            ++picturePos_;
            Expression();
        } else {
            SingleChar();
        }
    }

    void FiniteRepeat() {
        std::uint32_t count = 0;
        for (; picturePos_ < picture_.size() && IsDigit(picture_[picturePos_]); ++picturePos_) {
            count = std::min<std::uint32_t>(
                count * 10 + static_cast<std::uint32_t>(picture_[picturePos_] - '0'),
                kMaximumRepeatCount);
        }
        std::size_t start = picturePos_;
        std::size_t end = ElementEnd(start);
        if (start >= picture_.size()) {
            Fail(KsStringException::kFilterFailed);
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            ApplyElement(start);
        }
        picturePos_ = end;
    }

    void InfiniteRepeat() {
        std::size_t start = picturePos_;
        if (inputPos_ >= input_.size()) {
            return;  // the walk goes on at the element, which is applied once
        }
        std::size_t end = ElementEnd(start);
        if (start >= picture_.size()) {
            Fail(KsStringException::kFilterFailed);
        }
        while (inputPos_ < input_.size()) {
            std::size_t before = inputPos_;
            ApplyElement(start);
            if (inputPos_ == before) {
                break;  // an element that takes no input would repeat forever
            }
        }
        picturePos_ = end;
    }

    const std::string& picture_;
    const std::string& input_;
    bool unfilter_;
    std::size_t optionalEnd_;
    std::string output_;
    std::size_t picturePos_ = 0;
    std::size_t inputPos_ = 0;
};

std::string Walk(const KsString& picture, const KsString& text, bool unfilter) {
    std::string closed = std::string(picture.GetCString()) + "}";
    std::string input = text.GetCString();
    return PictureWalk(closed, input, unfilter).Run();
}

[[noreturn]] void SyntaxError(std::uint8_t code, const char* message) {
    KsStringException::Generate(code, "%s", "KsStringFilter", message);
}

}  // namespace

KsStringFilter::KsStringFilter(const char* picture) {
    KsCallpath("KsStringFilter()", kClassName, [&] { SetPictureString(picture); });
}

std::unique_ptr<KsFilter> KsStringFilter::Clone() const {
    return std::unique_ptr<KsFilter>(new KsStringFilter(*this));
}

void KsStringFilter::ResetValues() {
    picture_.Clear();
    missing_.Clear();
}

void KsStringFilter::SetPictureString(const char* picture) {
    KsCallpath("SetPictureString()", kClassName, [&] {
        SyntaxCheck(picture);
        picture_ = picture;
    });
}

void KsStringFilter::FilterValue(KsString& text) const {
    KsCallpath("FilterValue()", kClassName, [&] {
        if (text.IsEmpty()) {
            text = missing_;
            return;
        }
        text = Walk(picture_, text, false).c_str();
    });
}

void KsStringFilter::UnfilterValue(KsString& text) const {
    KsCallpath("UnfilterValue()", kClassName, [&] {
        if (text == missing_) {
            text.Clear();
            return;
        }
        text = Walk(picture_, text, true).c_str();
    });
}

void KsStringFilter::SyntaxCheck(const char* pictureText) {
    KsCallpath("SyntaxCheck()", kClassName, [&] {
        std::string picture = pictureText != nullptr ? pictureText : "";
        const std::size_t length = picture.size();
        if (length == 0) {
            SyntaxError(KsStringException::kEmptyPicture, "Empty picture string");
        }
        std::vector<bool> escaped = EscapedCharacters(picture);
        auto plain = [&](std::size_t i, char c) { return picture[i] == c && !escaped[i]; };

        for (std::size_t i = 0; i < length; ++i) {
            if (plain(i, ',')) {
                SyntaxError(KsStringException::kUnsupportedOption, "Unsupported option");
            }
        }
        for (std::size_t i = 0; i < length; ++i) {
            if (plain(i, ';')) {
                if (i + 1 == length) {
                    SyntaxError(KsStringException::kLiteralSequence, "Invalid literal sequence");
                }
                ++i;
            }
        }

        // Braces pair like parentheses; `owner` is the innermost group around each character.
        std::vector<std::size_t> match(length, std::string::npos);
        std::vector<long> owner(length, -1);
        std::vector<std::size_t> open;
        auto groupError = [] {
            SyntaxError(KsStringException::kGroupSyntax, "Invalid group syntax");
        };
        for (std::size_t i = 0; i < length; ++i) {
            owner[i] = open.empty() ? -1 : static_cast<long>(open.back());
            if (plain(i, '{')) {
                open.push_back(i);
                if (open.size() > static_cast<std::size_t>(kMaximumGroupDepth)) {
                    groupError();
                }
            } else if (plain(i, '}')) {
                if (open.empty()) {
                    groupError();
                }
                std::size_t start = open.back();
                open.pop_back();
                owner[i] = open.empty() ? -1 : static_cast<long>(open.back());
                if (i - start < 2 || picture[start + 1] == ']' || plain(i - 1, '[')) {
                    groupError();
                }
                match[start] = i;
            }
        }
        if (!open.empty()) {
            groupError();
        }

        std::vector<std::size_t> opens;
        std::vector<std::size_t> closes;
        for (std::size_t i = 0; i < length; ++i) {
            if (plain(i, '[')) {
                opens.push_back(i);
            } else if (plain(i, ']')) {
                closes.push_back(i);
            }
        }
        if (!opens.empty() || !closes.empty()) {
            // One optional part, inside one group.
            if (opens.size() != 1 || closes.size() != 1 || closes[0] < opens[0] + 2 ||
                owner[opens[0]] != owner[closes[0]]) {
                SyntaxError(KsStringException::kOptionalSyntax, "Invalid optional syntax");
            }
        }

        auto repeatError = [] {
            SyntaxError(KsStringException::kRepeatSyntax, "Invalid repeat syntax");
        };
        for (std::size_t i = 0; i < length; ++i) {
            if (!plain(i, '*')) {
                continue;
            }
            std::size_t j = i + 1;
            bool finite = j < length && IsDigit(picture[j]);
            std::uint32_t count = 0;
            for (; j < length && IsDigit(picture[j]); ++j) {
                count = std::min<std::uint32_t>(
                    count * 10 + static_cast<std::uint32_t>(picture[j] - '0'),
                    kMaximumRepeatCount + 1);
            }
            if ((finite && (count == 0 || count > kMaximumRepeatCount)) || j >= length) {
                repeatError();
            }
            char element = picture[j];
            if (element == '{') {
                std::size_t close = match[j];
                bool takesInput = false;
                for (std::size_t k = j + 1; k < close; ++k) {
                    if (escaped[k]) {
                        continue;
                    }
                    if (picture[k] == '[' || picture[k] == ']' ||
                        (picture[k] == '*' && (k + 1 >= close || !IsDigit(picture[k + 1])))) {
                        repeatError();
                    }
                    takesInput = takesInput || TakesInput(picture[k]);
                }
                if (!takesInput) {
                    repeatError();
                }
            } else if (element == '}' || element == '[' || element == ']' || element == '*') {
                repeatError();
            } else if (element == ';') {
                if (j + 2 != length) {
                    repeatError();
                }
            } else if (!TakesInput(element) && j + 1 != length) {
                repeatError();
            }
        }
    });
}

void KsStringFilter::Read(KsIniSection& section, KsProgressInterface& progress) {
    (void)progress;
    KsCallpath("Read()", kClassName, [&] {
        KsStringFilter read;
        read.SetPictureString(section.GetString(kPictureKey, ""));
        read.missing_ = section.GetString(kMissingKey, "");
        *this = read;
    });
}

void KsStringFilter::Write(KsIniSection& section, KsProgressInterface& progress) const {
    (void)progress;
    KsCallpath("Write()", kClassName, [&] {
        section.SetString(kPictureKey, picture_.GetCString());
        section.SetString(kMissingKey, missing_.GetCString());
    });
}

void KsStringFilter::Read(KsInputStreamInterface& stream, KsProgressInterface& progress) {
    (void)progress;
    KsCallpath("Read()", kClassName, [&] {
        ReadStreamHeader(stream, kStreamMarker, kStreamVersion, kClassName);
        KsString picture;
        KsStringFilter read;
        picture.Read(stream);
        read.missing_.Read(stream);
        read.SetPictureString(picture.GetCString());
        *this = read;
    });
}

void KsStringFilter::Write(KsOutputStreamInterface& stream, KsProgressInterface& progress) const {
    (void)progress;
    KsCallpath("Write()", kClassName, [&] {
        stream.WriteKsHeader(kStreamMarker, kStreamVersion);
        picture_.Write(stream);
        missing_.Write(stream);
    });
}
