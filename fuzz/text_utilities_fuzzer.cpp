// Feeds arbitrary text to the tokenizer, the value conversions, KsDeblank and the file-name
// splitting, which all read texts that come from files or from the user.
//
// Input: byte 0 and 1 make the delimiter (one or two characters), byte 2 chooses the group
// delimiters and the options, the rest up to the first NUL is the text.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/KsConvertValue.h"
#include "core/KsStringTokenizer.h"
#include "io/KsFileName.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void Tokenize(const std::string& text, const std::string& delimiter, std::uint8_t options) {
    static const char* const kGroups[][2] = {{nullptr, nullptr}, {"\"", nullptr}, {"(", ")"}};
    const auto& group = kGroups[options % 3];
    bool keepGroup = (options & 0x10) != 0;
    bool keepSpaces = (options & 0x20) != 0;
    try {
        KsStringTokenizer tokenizer(text.c_str(), delimiter.c_str(), group[0], keepGroup, group[1],
                                    keepSpaces);
        std::string joined;
        std::uint32_t count = tokenizer.GetNumTokens();
        for (std::uint32_t i = 0; i < count; ++i) {
            const KsString* token = tokenizer.GetNextToken();
            Check(token->GetLength() <= text.size());
            joined += (i > 0 ? delimiter : "") + std::string(token->GetCString());
        }
        // Without groups and with spaces kept, the tokens are the text cut at each delimiter.
        if (group[0] == nullptr && keepSpaces) {
            Check(joined == text);
        }
    } catch (const KsException&) {
    }
}

void Convert(const std::string& text, bool allowWhitespace) {
    try {
        std::int32_t value = 0;
        KsConvertValue(value, text.c_str(), allowWhitespace);
        Check(std::strtoll(text.c_str(), nullptr, 10) == value);
    } catch (const KsMalformedDataException& e) {
        Check(std::string(e.GetText()) == text);
    }
    try {
        std::uint16_t value = 0;
        KsConvertValue(value, text.c_str(), allowWhitespace);
    } catch (const KsMalformedDataException&) {
    }
    try {
        double value = 0;
        KsConvertValue(value, text.c_str(), allowWhitespace);
    } catch (const KsMalformedDataException&) {
    }
    bool truth = false;
    try {
        KsConvertValue(truth, text.c_str(), allowWhitespace);
    } catch (const KsMalformedDataException&) {
    }
}

void Deblank(const std::string& text) {
    std::string buffer = text;
    KsDeblank(buffer.data(), true, true);
    std::size_t length = std::strlen(buffer.c_str());
    if (length > 0) {
        Check(static_cast<unsigned char>(buffer[0]) > 32);
        Check(static_cast<unsigned char>(buffer[length - 1]) > 32);
    }
}

void SplitFileName(const std::string& text) {
    try {
        KsFileName name(KsPathStyle::Windows(), text.c_str());
        std::string full = name.GetFullPath();
        Check(full.size() <= text.size() + 2);
    } catch (const KsException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    std::string delimiter;
    for (std::size_t i = 0; i < 1u + (data[2] >> 7); ++i) {
        delimiter += data[i] != 0 ? static_cast<char>(data[i]) : ';';
    }
    std::string text(reinterpret_cast<const char*>(data) + 3, size - 3);
    text.resize(std::strlen(text.c_str()));

    Tokenize(text, delimiter, data[2]);
    Convert(text, (data[2] & 0x40) != 0);
    Deblank(text);
    SplitFileName(text);
    return 0;
}
