#include "values/KsStringFilter.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/KsCallpath.h"
#include "core/KsText.h"
#include "ini/KsIniFile.h"
#include "io/KsStreamInterface.h"

namespace {

constexpr const char* kClass = "KsStringFilter";
constexpr char kStreamMarker = 2;
constexpr std::int16_t kStreamVersion = 520;
constexpr const char* kPictureKey = "Picture String Filter";
constexpr const char* kMissingKey = "Missing String";
// Groups nest at most this deep, so that walking a picture keeps within the stack.
constexpr int kMaximumGroupDepth = 100;
constexpr std::uint32_t kMaximumRepeatCount = 65535;

using KsText::IsDigit;
using KsText::IsLetter;
using KsText::ToUpper;

bool TakesInput(char c) {
    return c == '#' || c == '?' || c == '&' || c == '@' || c == '!';
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
            KsStringException::Generate(KsStringException::kFilterFailed, "Filter Error", kClass);
        }
        return output_;
    }

private:
    [[noreturn]] void Fail(std::uint8_t code) const {
        KsStringException::Generate(code, unfilter_ ? "Unfilter Error" : "Filter Error", kClass);
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
    KsStringException::Generate(code, "%s", kClass, message);
}

// The checks of a non-empty picture after the first, in the order in which they are made;
// the first that fails is reported.
class PictureSyntax {
public:
    explicit PictureSyntax(const std::string& picture)
        : picture_(picture), escaped_(EscapedCharacters(picture)) {}

    void Check() const {
        CheckOptions();
        CheckLiteralSequences();
        Groups groups = CheckGroups();
        CheckOptionalPart(groups.owner);
        CheckRepeats(groups.match);
    }

private:
    // For each "{", the index of its "}"; for each character, the "{" of the innermost
    // group around it (-1 outside every group).
    struct Groups {
        std::vector<std::size_t> match;
        std::vector<long> owner;
    };

    // `c` stands at `i` and no ";" escapes it.
    bool Plain(std::size_t i, char c) const { return picture_[i] == c && !escaped_[i]; }

    void CheckOptions() const {
        for (std::size_t i = 0; i < picture_.size(); ++i) {
            if (Plain(i, ',')) {
                SyntaxError(KsStringException::kUnsupportedOption, "Unsupported option");
            }
        }
    }

    void CheckLiteralSequences() const {
        for (std::size_t i = 0; i < picture_.size(); ++i) {
            if (Plain(i, ';')) {
                if (i + 1 == picture_.size()) {
                    SyntaxError(KsStringException::kLiteralSequence, "Invalid literal sequence");
                }
                ++i;
            }
        }
    }

    [[noreturn]] static void GroupError() {
        SyntaxError(KsStringException::kGroupSyntax, "Invalid group syntax");
    }

    // Braces pair like parentheses.
    Groups CheckGroups() const {
        const std::size_t length = picture_.size();
        Groups groups{std::vector<std::size_t>(length, std::string::npos),
                      std::vector<long>(length, -1)};
        std::vector<std::size_t> open;
        for (std::size_t i = 0; i < length; ++i) {
            groups.owner[i] = open.empty() ? -1 : static_cast<long>(open.back());
            if (Plain(i, '{')) {
                open.push_back(i);
                if (open.size() > static_cast<std::size_t>(kMaximumGroupDepth)) {
                    GroupError();
                }
            } else if (Plain(i, '}')) {
                if (open.empty()) {
                    GroupError();
                }
                std::size_t start = open.back();
                open.pop_back();
                groups.owner[i] = open.empty() ? -1 : static_cast<long>(open.back());
                if (i - start < 2 || picture_[start + 1] == ']' || Plain(i - 1, '[')) {
                    GroupError();
                }
                groups.match[start] = i;
            }
        }
        if (!open.empty()) {
            GroupError();
        }
        return groups;
    }

    // One optional part at most, inside one group.
    void CheckOptionalPart(const std::vector<long>& owner) const {
        std::vector<std::size_t> opens;
        std::vector<std::size_t> closes;
        for (std::size_t i = 0; i < picture_.size(); ++i) {
            if (Plain(i, '[')) {
                opens.push_back(i);
            } else if (Plain(i, ']')) {
                closes.push_back(i);
            }
        }
        if (opens.empty() && closes.empty()) {
            return;
        }
        if (opens.size() != 1 || closes.size() != 1 || closes[0] < opens[0] + 2 ||
            owner[opens[0]] != owner[closes[0]]) {
            SyntaxError(KsStringException::kOptionalSyntax, "Invalid optional syntax");
        }
    }

    [[noreturn]] static void RepeatError() {
        SyntaxError(KsStringException::kRepeatSyntax, "Invalid repeat syntax");
    }

    void CheckRepeats(const std::vector<std::size_t>& match) const {
        for (std::size_t i = 0; i < picture_.size(); ++i) {
            if (Plain(i, '*')) {
                CheckRepeatedElement(SkipRepeatCount(i + 1), match);
            }
        }
    }

    // Index of the element after a repeat's count that starts at `j`; a finite count must
    // lie within 1 and the largest count, and an element must follow.
    std::size_t SkipRepeatCount(std::size_t j) const {
        const std::size_t length = picture_.size();
        bool finite = j < length && IsDigit(picture_[j]);
        std::uint32_t count = 0;
        for (; j < length && IsDigit(picture_[j]); ++j) {
            count =
                std::min<std::uint32_t>(count * 10 + static_cast<std::uint32_t>(picture_[j] - '0'),
                                        kMaximumRepeatCount + 1);
        }
        if ((finite && (count == 0 || count > kMaximumRepeatCount)) || j >= length) {
            RepeatError();
        }
        return j;
    }

    // A group, or a single character; one that takes no input only at the picture's end.
    void CheckRepeatedElement(std::size_t j, const std::vector<std::size_t>& match) const {
        const std::size_t length = picture_.size();
        char element = picture_[j];
        if (element == '{') {
            CheckRepeatedGroup(j, match[j]);
        } else if (element == '}' || element == '[' || element == ']' || element == '*') {
            RepeatError();
        } else if (element == ';') {
            if (j + 2 != length) {
                RepeatError();
            }
        } else if (!TakesInput(element) && j + 1 != length) {
            RepeatError();
        }
    }

    // No optional part and no infinite repeat inside, and something that takes input.
    void CheckRepeatedGroup(std::size_t open, std::size_t close) const {
        bool takesInput = false;
        for (std::size_t k = open + 1; k < close; ++k) {
            if (escaped_[k]) {
                continue;
            }
            if (picture_[k] == '[' || picture_[k] == ']' ||
                (picture_[k] == '*' && (k + 1 >= close || !IsDigit(picture_[k + 1])))) {
                RepeatError();
            }
            takesInput = takesInput || TakesInput(picture_[k]);
        }
        if (!takesInput) {
            RepeatError();
        }
    }

    const std::string& picture_;
    std::vector<bool> escaped_;
};

}  // namespace

KsStringFilter::KsStringFilter(const char* picture) {
    KsCallpath("KsStringFilter()", kClass, [&] { SetPictureString(picture); });
}

std::unique_ptr<KsFilter> KsStringFilter::Clone() const {
    return std::unique_ptr<KsFilter>(new KsStringFilter(*this));
}

void KsStringFilter::ResetValues() {
    picture_.Clear();
    missing_.Clear();
}

void KsStringFilter::SetPictureString(const char* picture) {
    KsCallpath("SetPictureString()", kClass, [&] {
        SyntaxCheck(picture);
        picture_ = picture;
    });
}

void KsStringFilter::TakeStoredPicture(const char* picture) {
    // A filter without a picture writes an empty one (a section leaves the key out).
    if (picture != nullptr && *picture != '\0') {
        SetPictureString(picture);
    }
}

void KsStringFilter::FilterValue(KsString& text) const {
    KsCallpath("FilterValue()", kClass, [&] {
        if (text.IsEmpty()) {
            text = missing_;
            return;
        }
        text = Walk(picture_, text, false).c_str();
    });
}

void KsStringFilter::UnfilterValue(KsString& text) const {
    KsCallpath("UnfilterValue()", kClass, [&] {
        if (text == missing_) {
            text.Clear();
            return;
        }
        text = Walk(picture_, text, true).c_str();
    });
}

void KsStringFilter::SyntaxCheck(const char* pictureText) {
    KsCallpath("SyntaxCheck()", kClass, [&] {
        std::string picture = pictureText != nullptr ? pictureText : "";
        if (picture.empty()) {
            SyntaxError(KsStringException::kEmptyPicture, "Empty picture string");
        }
        PictureSyntax(picture).Check();
    });
}

void KsStringFilter::Read(KsIniSection& section, KsProgressInterface& progress) {
    (void)progress;
    KsCallpath("Read()", kClass, [&] {
        KsStringFilter read;
        read.TakeStoredPicture(section.GetString(kPictureKey, ""));
        read.missing_ = section.GetString(kMissingKey, "");
        *this = read;
    });
}

void KsStringFilter::Write(KsIniSection& section, KsProgressInterface& progress) const {
    (void)progress;
    KsCallpath("Write()", kClass, [&] {
        section.SetString(kPictureKey, picture_.GetCString());
        section.SetString(kMissingKey, missing_.GetCString());
    });
}

void KsStringFilter::Read(KsInputStreamInterface& stream, KsProgressInterface& progress) {
    (void)progress;
    KsCallpath("Read()", kClass, [&] {
        ReadStreamHeader(stream, kStreamMarker, kStreamVersion, kClass);
        KsString picture;
        KsStringFilter read;
        picture.Read(stream);
        read.missing_.Read(stream);
        read.TakeStoredPicture(picture.GetCString());
        *this = read;
    });
}

void KsStringFilter::Write(KsOutputStreamInterface& stream, KsProgressInterface& progress) const {
    (void)progress;
    KsCallpath("Write()", kClass, [&] {
        stream.WriteKsHeader(kStreamMarker, kStreamVersion);
        picture_.Write(stream);
        missing_.Write(stream);
    });
}
