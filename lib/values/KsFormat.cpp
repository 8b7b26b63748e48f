#include "values/KsFormat.h"

#include <strings.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/KsCallpath.h"
#include "core/KsConvertValue.h"
#include "core/KsText.h"
#include "ini/KsIniFile.h"
#include "values/KsValueTypeLetters.h"

namespace {

constexpr const char* kRangeClass = "KsFormatRange";
constexpr const char* kLineClass = "KsFormatLine";
constexpr const char* kFormatClass = "KsFormat";
constexpr const char* kDictClass = "KsFormatDict";
constexpr const char* kLibClass = "KsFormatLib";

// Calls `use` with a zero of the native type of a number type letter (double, std::int32_t,
// std::uint32_t, std::int16_t, std::uint16_t); false, without the call, for any other letter.
template <class Use>
bool WithNumberType(char type, Use use) {
    switch (type) {
        case KS_NUMBER_FLD:
            use(double{});
            return true;
        case KS_LONG_FLD:
            use(std::int32_t{});
            return true;
        case KS_ULONG_FLD:
            use(std::uint32_t{});
            return true;
        case KS_SHORT_FLD:
            use(std::int16_t{});
            return true;
        case KS_USHORT_FLD:
            use(std::uint16_t{});
            return true;
        default:
            return false;
    }
}

bool IsValueType(char type) {
    return type == KS_ALPHA_FLD || WithNumberType(type, [](auto) {});
}

// A number of the type from its text, by the library's strict conversion.
double ConvertNumber(const std::string& text, char type) {
    std::string trimmed(KsText::TrimSpacesAndTabs(text));
    double number = 0;
    if (!WithNumberType(type, [&](auto value) {
            KsConvertValue(value, trimmed.c_str(), false);
            number = value;
        })) {
        KsException::Generate("Invalid character type", kLineClass);
    }
    return number;
}

// A native value of `type` as a double.
double NativeNumber(const void* value, char type) {
    double number = 0;
    if (!WithNumberType(type,
                        [&](auto zero) { number = *static_cast<const decltype(zero)*>(value); })) {
        KsException::Generate("Invalid character type", kLineClass);
    }
    return number;
}

}  // namespace

// ---- KsFormatRange

KsFormatRange::KsFormatRange(const char* low, const char* high, std::uint8_t kind)
    : kind_(kind), type_(KS_ALPHA_FLD) {
    KsCallpath("Constructor(char *sLow)", kRangeClass, [&] {
        if (low == nullptr || high == nullptr || std::strlen(low) > kMaximumTextLength ||
            std::strlen(high) > kMaximumTextLength) {
            KsException::Generate("Invalid format range", kRangeClass);
        }
        lowText_ = low;
        highText_ = high;
    });
}

KsFormatRange::KsFormatRange(double low, double high, std::uint8_t kind, char type)
    : low_(low), high_(high), kind_(kind), type_(type) {
    KsCallpath("Constructor()", kRangeClass, [&] {
        if (!IsValueType(type) || type == KS_ALPHA_FLD) {
            KsException::Generate("Invalid character type", kRangeClass);
        }
    });
}

void KsFormatRange::GetLow(void* out, char type) const {
    KsCallpath("GetLow()", kRangeClass, [&] {
        if (type == KS_ALPHA_FLD) {
            std::memcpy(out, lowText_.c_str(), lowText_.size() + 1);
        } else if (!WithNumberType(type, [&](auto zero) {
                       *static_cast<decltype(zero)*>(out) = static_cast<decltype(zero)>(low_);
                   })) {
            KsException::Generate("Invalid character type", kRangeClass);
        }
    });
}

template <class Compare>
bool KsFormatRange::InRange(Compare compare) const {
    // compare(bound) < 0 when the value lies below the bound.
    int belowLow = compare(true);
    int belowHigh = compare(false);
    switch (kind_) {
        case kSingle:
            return belowLow == 0;
        case kClosed:
            return belowLow >= 0 && belowHigh <= 0;
        case kHighOpen:
            return belowLow >= 0 && belowHigh < 0;
        case kLowOpen:
            return belowLow > 0 && belowHigh <= 0;
        case kOpen:
            return belowLow > 0 && belowHigh < 0;
        default:
            return false;
    }
}

bool KsFormatRange::Holds(const char* text, bool caseSensitive) const {
    if (type_ != KS_ALPHA_FLD || text == nullptr) {
        return false;
    }
    return InRange([&](bool low) {
        const char* bound = low ? lowText_.c_str() : highText_.c_str();
        int order = caseSensitive ? std::strcmp(text, bound) : strcasecmp(text, bound);
        return order < 0 ? -1 : order > 0 ? 1 : 0;
    });
}

bool KsFormatRange::Holds(double number) const {
    if (type_ == KS_ALPHA_FLD) {
        return false;
    }
    return InRange([&](bool low) {
        double bound = low ? low_ : high_;
        return number < bound ? -1 : number > bound ? 1 : 0;
    });
}

// ---- KsFormatLine

KsFormatLine::KsFormatLine(const char* valueSpec, const char* label, char type, bool caseSensitive)
    : type_(type), caseSensitive_(caseSensitive) {
    KsCallpath("KsFormatLine()", kLineClass, [&] {
        if (valueSpec == nullptr && label == nullptr) {
            return;
        }
        SetValue(valueSpec);
        SetLabel(label);
    });
}

void KsFormatLine::SetLabel(const char* label) {
    KsCallpath("SetLabel()", kLineClass, [&] { label_ = label != nullptr ? label : ""; });
}

void KsFormatLine::SetValue(const char* valueSpec) {
    KsCallpath("SetValueString()", kLineClass, [&] {
        DeleteAllRanges();
        valueSpec_ = valueSpec != nullptr ? valueSpec : "";
        SetAllRanges();
    });
}

const KsFormatRange* KsFormatLine::GetRange(std::int32_t index) const {
    return KsCallpath("GetRange()", kLineClass, [&] { return ranges_[index]; });
}

void KsFormatLine::DeleteRange(std::int32_t index) {
    KsCallpath("DeleteRange()", kLineClass, [&] { ranges_.DeleteAt(index); });
}

void KsFormatLine::SetAllRanges() {
    KsCallpath("SetAllRanges()", kLineClass, [&] {
        std::string spec = valueSpec_.GetCString();
        if (spec.size() > 2 && spec.front() == '"' && spec.back() == '"') {
            std::string value = spec.substr(1, spec.size() - 2);
            AddRange(value, value, KsFormatRange::kSingle);
            return;
        }
        if (spec.empty()) {
            CreateBlankRange();
            return;
        }
        std::size_t start = 0;
        while (true) {
            std::size_t comma = spec.find(',', start);
            CreateRange(spec.substr(start, comma - start));
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    });
}

void KsFormatLine::CreateRange(const std::string& piece) {
    KsCallpath("CreateRange(char* sRange)", kLineClass, [&] {
        if (!IsValueType(type_)) {
            KsException::Generate("Invalid character type", kLineClass);
        }
        // A '-' in front of a number is its sign, not the dash of a range.
        std::size_t searchFrom = 0;
        if (type_ != KS_ALPHA_FLD) {
            std::string_view rest = KsText::TrimLeft(piece, KsText::IsSpaceOrTab);
            if (!rest.empty() && rest.front() == '-') {
                searchFrom = piece.size() - rest.size() + 1;
            }
        }
        std::size_t dash = piece.find('-', searchFrom);
        if (dash != std::string::npos && dash > 0 && dash + 1 < piece.size()) {
            bool lowOpen = piece[dash - 1] == '<';
            bool highOpen = piece[dash + 1] == '<';
            std::string low = piece.substr(0, lowOpen ? dash - 1 : dash);
            std::string high = piece.substr(highOpen ? dash + 2 : dash + 1);
            std::uint8_t kind = lowOpen && highOpen ? KsFormatRange::kOpen
                                : lowOpen           ? KsFormatRange::kLowOpen
                                : highOpen          ? KsFormatRange::kHighOpen
                                                    : KsFormatRange::kClosed;
            AddRange(low, high, kind);
            return;
        }
        std::string value = piece;
        if (dash != std::string::npos) {
            value = piece.substr(0, dash);
        }
        AddRange(value, value, KsFormatRange::kSingle);
    });
}

void KsFormatLine::AddRange(const std::string& low, const std::string& high, std::uint8_t kind) {
    std::unique_ptr<KsFormatRange> range;
    if (type_ == KS_ALPHA_FLD) {
        range = std::make_unique<KsFormatRange>(low.c_str(), high.c_str(), kind);
    } else {
        range = std::make_unique<KsFormatRange>(ConvertNumber(low, type_),
                                                ConvertNumber(high, type_), kind, type_);
    }
    ranges_.Add(std::move(range));
}

void KsFormatLine::CreateBlankRange() {
    KsCallpath("CreateBlankRange()", kLineClass, [&] {
        double blank = 0;
        switch (type_) {
            case KS_ALPHA_FLD:
                AddRange("", "", KsFormatRange::kSingle);
                return;
            case KS_NUMBER_FLD:
                blank = -1.0e30;
                break;
            case KS_LONG_FLD:
                blank = -2147483648.0;
                break;
            case KS_SHORT_FLD:
                blank = -32768;
                break;
            case KS_USHORT_FLD:
            case KS_ULONG_FLD:
                blank = 0;
                break;
            default:
                KsException::Generate("Invalid character type", kLineClass);
        }
        ranges_.Add(std::make_unique<KsFormatRange>(blank, blank, KsFormatRange::kSingle, type_));
    });
}

bool KsFormatLine::GetIsInFormatLine(const void* value, char type, bool valueIsText) const {
    return KsCallpath("GetIsInFormatLine()", kLineClass, [&] {
        if (value == nullptr) {
            KsException::Generate("Null value", kLineClass);
        }
        bool isText = valueIsText || type == KS_ALPHA_FLD;
        const char* text = isText ? static_cast<const char*>(value) : nullptr;
        double number = 0;
        if (type_ != KS_ALPHA_FLD) {
            number = isText ? ConvertNumber(text, type_) : NativeNumber(value, type);
        }
        for (const KsFormatRange* range : ranges_) {
            bool hit =
                type_ == KS_ALPHA_FLD ? range->Holds(text, caseSensitive_) : range->Holds(number);
            if (hit) {
                return true;
            }
        }
        return false;
    });
}

// ---- KsFormat

KsFormat::KsFormat(const char* name, char type) : name_(name), type_(type) {}

KsFormat::KsFormat(const char* name, const char* dictionaryFile, char type)
    : name_(name), type_(type) {
    KsCallpath("KsFormat()", kFormatClass, [&] { LoadFormat(dictionaryFile, name, type); });
}

void KsFormat::SetCaseSensitive(bool caseSensitive) {
    caseSensitive_ = caseSensitive;
    for (KsFormatLine* line : lines_) {
        line->SetCaseSensitive(caseSensitive);
    }
}

void KsFormat::LoadFormat(const char* dictionaryFile, const char* name, char type) {
    KsCallpath("LoadFormat()", kFormatClass, [&] {
        KsIniFile file(dictionaryFile);
        auto section = [&](const char* sectionName) -> KsIniSection* {
            std::int32_t index = file.GetSectionIndex(sectionName);
            return index >= 0 ? file.GetSection(index) : nullptr;
        };
        type_ = type;
        if (KsIniSection* types = section("FormatDataType")) {
            const char* letter = types->GetString(name, "");
            if (*letter != '\0') {
                type_ = *letter;
            }
        }
        if (KsIniSection* cases = section("FormatCaseSensitivity")) {
            caseSensitive_ = cases->GetBool(name, true);
        }
        if (KsIniSection* editable = section("FormatEditableByUser")) {
            editable_ = editable->GetBool(name, true);
        }
        name_ = name;
        KsString header = CreateFormatHeader();
        if (KsIniSection* lines = section(header.GetCString())) {
            for (std::int32_t i = 0; i < lines->GetNumLines(); ++i) {
                AddLine(lines->GetLine(i)->GetKey(), lines->GetLine(i)->GetValue());
            }
        }
    });
}

void KsFormat::AddLine(const char* sValue, const char* sLabel, std::int32_t position) {
    KsCallpath("AddLine(char *sValue, char *sLabel)", kFormatClass, [&] {
        auto line =
            std::make_unique<KsFormatLine>(sValue != nullptr ? sValue : "",
                                           sLabel != nullptr ? sLabel : "", type_, caseSensitive_);
        if (position < 0 || position >= GetNumLines()) {
            lines_.Add(std::move(line));
        } else {
            lines_.InsertAt(position, std::move(line));
        }
    });
}

std::int32_t KsFormat::GetIndexFromValue(const void* value, bool valueIsText) const {
    return KsCallpath("GetIndexFromValue()", kFormatClass, [&] {
        for (std::int32_t i = 0; i < GetNumLines(); ++i) {
            if (lines_[i]->GetIsInFormatLine(value, type_, valueIsText)) {
                return i;
            }
        }
        return -1;
    });
}

std::int32_t KsFormat::GetIndexFromLabel(const char* label) const {
    return KsCallpath("GetIndexFromLabel()", kFormatClass, [&] {
        if (label == nullptr) {
            return -1;
        }
        for (std::int32_t i = 0; i < GetNumLines(); ++i) {
            const char* candidate = lines_[i]->GetLabel();
            if ((caseSensitive_ ? std::strcmp(candidate, label) : strcasecmp(candidate, label)) ==
                0) {
                return i;
            }
        }
        return -1;
    });
}

std::int32_t KsFormat::Format(const void* value, bool valueIsText, char* sLabel,
                              std::uint32_t size) const {
    return KsCallpath("Format()", kFormatClass, [&] {
        if (sLabel == nullptr) {
            KsException::Generate("Null buffer", kFormatClass);
        }
        std::int32_t index = GetIndexFromValue(value, valueIsText);
        if (index >= 0 && size > 0) {
            const char* label = lines_[index]->GetLabel();
            std::size_t n = std::min<std::size_t>(std::strlen(label), size - 1);
            std::memcpy(sLabel, label, n);
            sLabel[n] = '\0';
        }
        return index;
    });
}

std::int32_t KsFormat::Format(const char* valueText, KsString& label) const {
    return KsCallpath("Format()", kFormatClass, [&] {
        std::int32_t index = GetIndexFromValue(valueText, true);
        if (index >= 0) {
            label = lines_[index]->GetLabel();
        }
        return index;
    });
}

std::int32_t KsFormat::UnFormat(const char* label, void* value) const {
    return KsCallpath("UnFormat()", kFormatClass, [&] {
        if (value == nullptr) {
            KsException::Generate("Null buffer", kFormatClass);
        }
        std::int32_t index = GetIndexFromLabel(label);
        if (index >= 0 && lines_[index]->GetNumRanges() > 0) {
            lines_[index]->GetRange(0)->GetLow(value, type_);
        }
        return index;
    });
}

KsString KsFormat::CreateFormatHeader() const {
    KsString header;
    header.printf("Format=%s", name_.GetCString());
    return header;
}

// ---- KsFormatDict

KsFormatDict::KsFormatDict(const char* fileName, char defaultType)
    : fileName_(fileName),
      inMemory_(fileName == nullptr || *fileName == '\0'),
      defaultType_(defaultType) {}

std::int32_t KsFormatDict::GetLoadedFormatIndex(const char* name) const {
    if (name == nullptr) {
        return -1;
    }
    for (std::int32_t i = 0; i < GetNumLoadedFormats(); ++i) {
        if (std::strcmp(formats_[i]->GetName(), name) == 0) {
            return i;
        }
    }
    return -1;
}

KsFormat* KsFormatDict::GetFormat(const char* sFormatName) {
    return KsCallpath("GetFormat(char *sFormatName)", kDictClass, [&] {
        std::int32_t index = GetLoadedFormatIndex(sFormatName);
        return index >= 0 ? formats_[index] : LoadFormat(sFormatName, defaultType_);
    });
}

KsFormat* KsFormatDict::GetFormat(const char* sFormatName, char cType) {
    return KsCallpath("GetFormat(char *sFormatName)", kDictClass, [&] {
        std::int32_t index = GetLoadedFormatIndex(sFormatName);
        if (index >= 0 && formats_[index]->GetType() == cType) {
            return formats_[index];
        }
        // Reloading refreshes the loaded object in place: a format the file gives another
        // type is reloaded on every such call, and pointers handed out before stay valid.
        return LoadFormat(sFormatName, cType);
    });
}

KsFormat* KsFormatDict::LoadFormat(const char* name, char type) {
    return KsCallpath("LoadFormat()", kDictClass, [&]() -> KsFormat* {
        if (inMemory_ || name == nullptr) {
            return nullptr;
        }
        auto format = std::make_unique<KsFormat>(name, fileName_.GetCString(), type);
        if (format->GetNumLines() == 0) {
            return nullptr;
        }
        return Insert(format.release());
    });
}

KsFormat* KsFormatDict::Insert(KsFormat* format) {
    std::unique_ptr<KsFormat> owner(format);
    std::int32_t position = 0;
    while (position < GetNumLoadedFormats() &&
           std::strcmp(formats_[position]->GetName(), format->GetName()) < 0) {
        ++position;
    }
    if (position < GetNumLoadedFormats() &&
        std::strcmp(formats_[position]->GetName(), format->GetName()) == 0) {
        KsFormat* existing = formats_[position];
        *existing = *format;
        return existing;
    }
    return formats_.InsertAt(position, std::move(owner));
}

KsFormat* KsFormatDict::AddFormat(KsFormat* format) {
    return KsCallpath("AddFormat()", kDictClass, [&] {
        if (format == nullptr) {
            KsException::Generate("null pointer: pFormat", kDictClass);
        }
        return Insert(format);
    });
}

void KsFormatDict::UnloadFormat(std::int32_t index) {
    KsCallpath("UnloadFormat()", kDictClass, [&] { formats_.DeleteAt(index); });
}

// ---- KsFormatLib

void KsFormatLib::AddDictionary(KsFormatDict* dictionary) {
    std::unique_ptr<KsFormatDict> owner(dictionary);
    if (dictionary != nullptr) {
        dictionaries_.Add(std::move(owner));
    }
}

KsFormatDict* KsFormatLib::GetDictionary(std::int32_t index) {
    return KsCallpath("GetDictionary()", kLibClass, [&] { return dictionaries_[index]; });
}

KsFormat* KsFormatLib::GetFormat(const char* name) {
    return KsCallpath("GetFormat(char *sFormatName)", kLibClass, [&]() -> KsFormat* {
        for (KsFormatDict* dictionary : dictionaries_) {
            std::int32_t index = dictionary->GetLoadedFormatIndex(name);
            if (index >= 0) {
                return dictionary->GetFormat(index);
            }
        }
        if (loadFromAny_) {
            for (KsFormatDict* dictionary : dictionaries_) {
                if (KsFormat* format = dictionary->GetFormat(name)) {
                    return format;
                }
            }
        }
        return nullptr;
    });
}

KsFormatLib& KsDefaultFormatLib() {
    static KsFormatLib library(true);
    return library;
}
