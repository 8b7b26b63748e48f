#include "files/KsField.h"

#include <cstring>
#include <string>

#include "core/KsCallpath.h"
#include "files/KsFieldTypeLetters.h"
#include "files/KsSectionValues.h"
#include "ini/KsIniFile.h"
#include "progress/KsNullProgress.h"
#include "values/KsFilter.h"
#include "values/KsFormat.h"

namespace {

constexpr const char* kClassName = "KsField";
// The standard flag type that a mapped field's own section may set.
constexpr const char* kHiddenKey = "Hidden";

struct TypeName {
    char letter;
    const char* name;
};

constexpr TypeName kTypeNames[] = {
    {KS_ALPHA_FLD, "KS_ALPHA_FLD"},       {KS_BINARY_FLD, "KS_BINARY_FLD"},
    {KS_BLOB_FLD, "KS_BLOB_FLD"},         {KS_DATE_FLD, "KS_DATE_FLD"},
    {KS_TIME_FLD, "KS_TIME_FLD"},         {KS_STAMP_FLD, "KS_STAMP_FLD"},
    {KS_LONG_FLD, "KS_LONG_FLD"},         {KS_ULONG_FLD, "KS_ULONG_FLD"},
    {KS_SHORT_FLD, "KS_SHORT_FLD"},       {KS_USHORT_FLD, "KS_USHORT_FLD"},
    {KS_NUMBER_FLD, "KS_NUMBER_FLD"},     {KS_BOOLEAN_FLD, "KS_BOOLEAN_FLD"},
    {KS_CURRENCY_FLD, "KS_CURRENCY_FLD"},
};

const char* FindTypeName(char letter) {
    for (const TypeName& type : kTypeNames) {
        if (type.letter == letter) {
            return type.name;
        }
    }
    return nullptr;
}

KsFormatLib*& ProcessFormatLib() {
    static KsFormatLib* library = &KsDefaultFormatLib();
    return library;
}

// An integer key that must fit the attribute it is read into.
std::int32_t RangedInt(const KsIniSection& section, const char* key, std::int32_t def,
                       std::int32_t low, std::int32_t high) {
    return KsSectionRangedInt(section, key, def, low, high, kClassName);
}

// The bits a section holds for one flag type, in their place in the flag word. A value
// wider than the flag type would spill into its neighbours' bits, so it is refused.
std::uint32_t ReadFlag(const KsIniSection& section, const KsFlagType& type) {
    if (type.IsSingleBit()) {
        return section.GetBool(type.GetName(), false) ? type.GetMask() : 0;
    }
    auto value = static_cast<std::uint32_t>(section.GetInt(type.GetName(), 0));
    if (value > type.GetShiftedMask()) {
        KsThrowOutOfRange(section, type.GetName(), 0, type.GetShiftedMask(), kClassName);
    }
    return value << type.GetShift();
}

// Writes the flag type's bits of `remaining` (or removes its key when there are none)
// and takes them out of `remaining`.
void WriteFlag(KsIniSection& section, const KsFlagType& type, std::uint32_t& remaining) {
    std::uint32_t value = (type.GetMask() & remaining) >> type.GetShift();
    if (value == 0) {
        section.SetString(type.GetName(), "");
    } else if (type.IsSingleBit()) {
        section.SetBool(type.GetName(), true);
    } else {
        section.SetInt(type.GetName(), static_cast<std::int32_t>(value));
    }
    remaining &= ~type.GetMask();
}

// One flag word through the registry's types of that word; bits no type covers go to
// `leftoverKey`. Types of the other word neither write nor claim bits of this one, so
// every bit of the word is stored.
void WriteFlagWord(KsIniSection& section, std::uint32_t word, bool system,
                   const char* leftoverKey) {
    for (const KsFlagType* type : KsFlagType::GetFieldFlagRegistry()) {
        if (type->IsSystem() == system) {
            WriteFlag(section, *type, word);
        }
    }
    if (word != 0) {
        section.SetInt(leftoverKey, static_cast<std::int32_t>(word));
    } else {
        section.SetString(leftoverKey, "");
    }
}

// An integer key written only when it differs from its default.
void SetUnlessDefault(KsIniSection& section, const char* key, std::int32_t value,
                      std::int32_t def) {
    if (value != def) {
        section.SetInt(key, value);
    } else {
        section.SetString(key, "");
    }
}

// The format of that name, by name alone or by name and type letter. A format loaded
// with another type letter is loaded again for this one by the dictionary that has it.
KsFormat* LookUpFormat(KsFormatLib& library, const char* name, char type, bool byNameAlone) {
    KsFormat* format = library.GetFormat(name);
    if (format == nullptr || byNameAlone || format->GetType() == type) {
        return format;
    }
    for (std::int32_t i = 0; i < library.GetNumDictionaries(); ++i) {
        KsFormatDict* dictionary = library.GetDictionary(i);
        if (dictionary->GetLoadedFormatIndex(name) >= 0) {
            return dictionary->GetFormat(name, type);
        }
    }
    return format;
}

}  // namespace

KsField::KsField() = default;

KsField::KsField(const KsField& source) : KsArrayPointerObject() {
    KsCallpath("Copy Constructor", kClassName, [&] { Copy(source); });
}

KsField::~KsField() = default;

KsField* KsField::Clone() const {
    return KsCallpath("Clone()", kClassName, [&] { return new KsField(*this); });
}

void KsField::Copy(const KsField& source) {
    if (&source == this) {
        return;
    }
    // The format and the filter first: they are what can fail, and a failure then leaves
    // this field as it was. The filter is always the source's, also when it has none.
    std::unique_ptr<KsFilter> filter = source.filter_ ? source.filter_->Clone() : nullptr;
    if (source.OwnsFormat()) {
        SetFormat(*source.ownedFormat_);
        filter_ = std::move(filter);
    } else {
        SetFormat(source.formatOption_, source.formatName_.GetCString(), std::move(filter));
    }
    name_ = source.name_;
    description_ = source.description_;
    mappedName_ = source.mappedName_;
    fieldNumber_ = source.fieldNumber_;
    type_ = source.type_;
    length_ = source.length_;
    precision_ = source.precision_;
    byteOffset_ = source.byteOffset_;
    indexCount_ = source.indexCount_;
    userDefined_ = source.userDefined_;
    ownerFile_ = source.ownerFile_;
    ownerFormatLib_ = source.ownerFormatLib_;
    flags_ = source.flags_;
    userFlags_ = source.userFlags_;
    extraFlags_ = source.extraFlags_;
    category_ = source.category_;
}

const char* KsField::GetTypeCString(char letter) {
    return KsCallpath("GetTypeCString()", kClassName, [&] {
        const char* name = FindTypeName(letter);
        if (name == nullptr) {
            KsException::Generate("The character, '%c', is not a valid field type.", kClassName,
                                  letter);
        }
        return name;
    });
}

KsFormatLib* KsField::GetProcessFormatLib() {
    return ProcessFormatLib();
}

void KsField::SetProcessFormatLib(KsFormatLib* library) {
    ProcessFormatLib() = library;
}

// ---- Reading and writing a structure section

void KsField::Read(std::uint16_t number, KsIniSection& section, const FlagTypes* extraFlagTypes) {
    KsCallpath("Read()", kClassName, section.GetName(), [&] {
        ReadDefinition(number, section, extraFlagTypes);
        CheckType(section);
    });
}

void KsField::ReadDefinition(std::uint16_t number, KsIniSection& section,
                             const FlagTypes* extraFlagTypes) {
    fieldNumber_ = number;
    SetName(section.GetString(kKsFieldNameKey, ""), nullptr, nullptr, kNoCategory);
    ReadFlagsFromIni(section, extraFlagTypes);
    type_ = section.GetString(kKsFieldTypeKey, "")[0];
    length_ = static_cast<std::int16_t>(RangedInt(section, kKsFieldLengthKey, 0, 0, INT16_MAX));
    byteOffset_ =
        static_cast<std::uint16_t>(RangedInt(section, kKsFieldByteOffsetKey, 0, 0, UINT16_MAX));
    precision_ = static_cast<std::int16_t>(
        RangedInt(section, kKsFieldPrecisionKey, 0, INT16_MIN, INT16_MAX));
    description_ = section.GetString(kKsFieldDescriptionKey, "");
    formatOption_ =
        static_cast<std::uint8_t>(RangedInt(section, kKsFieldFormatOptionKey, 0, 0, UINT8_MAX));
    SetIndexCount(section.GetInt(kKsFieldIndexKey, 0));
    userDefined_ = section.GetString(kKsFieldUserDefinedKey, "");
    category_ = static_cast<std::int16_t>(
        RangedInt(section, kKsFieldCategoryKey, kNoCategory, INT16_MIN, INT16_MAX));
    CheckFilterOrFormat(section);
    // A format of the field's earlier life must not outlive a section that names none.
    DropFormat();
    formatName_.Clear();
    ReadFilter(section);
    KsString format(section.GetString(kKsFieldFormatKey, ""));
    if (!format.IsEmpty()) {
        formatOption_ = kFormatted;
        SetFormat(kFormatted, format.GetCString(), nullptr);
    }
}

void KsField::CheckType(const KsIniSection& section) const {
    if (FindTypeName(type_) == nullptr) {  // also a missing type
        KsException::Generate("Section \"%s\": Type \"%s\" is not a valid field type", kClassName,
                              KsSectionShownName(section).c_str(),
                              KsSectionRawValue(section, kKsFieldTypeKey));
    }
}

void KsField::ReadMappedField(std::uint16_t number, KsIniSection& section) {
    KsCallpath("ReadMappedField()", kClassName, section.GetName(), [&] {
        fieldNumber_ = number;
        SetName(section.GetString(kKsFieldNameKey, ""), nullptr, nullptr, kNoCategory);
        SetMappedFieldName(section.GetString(kKsFieldMappedToKey, ""));
        if (section.FindKey(kHiddenKey) >= 0) {
            SetHidden(section.GetBool(kHiddenKey, false));
        }
        category_ = static_cast<std::int16_t>(
            RangedInt(section, kKsFieldCategoryKey, category_, INT16_MIN, INT16_MAX));
        CheckFilterOrFormat(section);
        if (section.FindKey(kKsFilterTypeKey) >= 0) {
            ReadFilter(section);
        }
        // A Format key that is present but empty takes the format away.
        if (section.FindKey(kKsFieldFormatKey) >= 0) {
            KsString name(section.GetString(kKsFieldFormatKey, ""));
            if (!name.IsEmpty()) {
                formatOption_ = kFormatted;
            }
            SetFormat(formatOption_, name.GetCString(), nullptr);
        }
    });
}

void KsField::CheckFilterOrFormat(const KsIniSection& section) const {
    if (section.FindKey(kKsFilterTypeKey) >= 0 && section.FindKey(kKsFieldFormatKey) >= 0) {
        KsException::Generate("Field %d can not be both filtered and formatted.", kClassName,
                              fieldNumber_);
    }
}

void KsField::ReadFilter(KsIniSection& section) {
    filter_.reset();
    filter_ = KsFilter::ReadRegisteredFilterFromIniSection(section, filterFlag_,
                                                           KsNullProgress::Instance());
    if (filter_ != nullptr) {
        formatOption_ = kFiltered;
    }
}

void KsField::Write(KsIniSection& section, const FlagTypes* extraFlagTypes) const {
    KsCallpath("Write", kClassName, section.GetName(), [&] {
        section.SetString(kKsFieldNameKey, name_.GetCString());
        section.SetString(kKsFieldMappedToKey, mappedName_.GetCString());
        if (IsMapped()) {
            return;
        }
        WriteDefinition(section);
        if (filter_ != nullptr) {
            KsFilter::WriteRegisteredFilterToIniSection(section, *filter_,
                                                        KsNullProgress::Instance());
        } else {
            section.SetString(kKsFilterTypeKey, "");
            section.SetString(kKsFilterRegistryIndexKey, "");
        }
        WriteFlagsToIni(section, extraFlagTypes);
    });
}

void KsField::WriteDefinition(KsIniSection& section) const {
    const char type[2] = {type_, '\0'};
    section.SetString(kKsFieldFormatKey, formatName_.GetCString());
    section.SetString(kKsFieldUserDefinedKey, userDefined_.GetCString());
    section.SetString(kKsFieldTypeKey, type);
    section.SetInt(kKsFieldLengthKey, length_);
    section.SetInt(kKsFieldByteOffsetKey, byteOffset_);
    section.SetString(kKsFieldDescriptionKey, description_.GetCString());
    SetUnlessDefault(section, kKsFieldPrecisionKey, precision_, 0);
    SetUnlessDefault(section, kKsFieldFormatOptionKey, formatOption_, kNoFormat);
    SetUnlessDefault(section, kKsFieldCategoryKey, category_, kNoCategory);
    SetUnlessDefault(section, kKsFieldIndexKey, indexCount_, 0);
}

void KsField::ReadFlagsFromIni(const KsIniSection& section, const FlagTypes* extraFlagTypes) {
    KsCallpath("ReadFlagsFromIni()", kClassName, [&] {
        std::uint32_t flags = 0;
        std::uint32_t userFlags = 0;
        for (const KsFlagType* type : KsFlagType::GetFieldFlagRegistry()) {
            (type->IsSystem() ? flags : userFlags) |= ReadFlag(section, *type);
        }
        flags |= static_cast<std::uint32_t>(section.GetInt(kKsFieldFlagsKey, 0));
        userFlags |= static_cast<std::uint32_t>(section.GetInt(kKsFieldUserFlagsKey, 0));
        std::uint32_t extraFlags = 0;
        if (extraFlagTypes != nullptr) {
            for (const KsFlagType* type : *extraFlagTypes) {
                extraFlags |= ReadFlag(section, *type);
            }
        }
        flags_ = flags;
        userFlags_ = userFlags;
        if (extraFlagTypes != nullptr) {
            extraFlags_ = extraFlags;
        }
    });
}

void KsField::WriteFlagsToIni(KsIniSection& section, const FlagTypes* extraFlagTypes) const {
    KsCallpath("WriteFlagsToIni()", kClassName, [&] {
        WriteFlagWord(section, flags_, true, kKsFieldFlagsKey);
        WriteFlagWord(section, userFlags_, false, kKsFieldUserFlagsKey);
        if (extraFlagTypes != nullptr) {
            std::uint32_t remaining = extraFlags_;
            for (const KsFlagType* type : *extraFlagTypes) {
                WriteFlag(section, *type, remaining);
            }
        }
    });
}

// ---- Setters

void KsField::SetName(const char* name, const char* description, const char* mappedName,
                      std::int16_t category) {
    KsCallpath("SetName()", kClassName, [&] {
        name_ = name;
        description_ = description;
        mappedName_ = mappedName;
        if (category >= 0) {
            category_ = category;
        }
    });
}

void KsField::SetMappedFieldName(const char* name) {
    KsCallpath("SetMappedFieldName()", kClassName, [&] { mappedName_ = name; });
}

void KsField::SetIndexCount(std::int32_t count) {
    KsCallpath("SetIndexCount()", kClassName, [&] {
        if (count < 0 || count > kMaxIndexCount) {
            KsException::Generate("Invalid parameter for index count.", kClassName);
        }
        indexCount_ = static_cast<std::int16_t>(count);
    });
}

void KsField::SetLength(std::int16_t length) {
    if (length > 0) {
        length_ = length;
    }
}

void KsField::SetOwnerFile(KsFile* file, KsFormatLib* fileFormatLib) {
    ownerFile_ = file;
    ownerFormatLib_ = fileFormatLib;
    if (ownedFormat_ == nullptr) {
        format_ = nullptr;
    }
}

void KsField::SetAttributes(std::uint16_t number, char type, std::int16_t length,
                            std::int16_t precision, std::int16_t category) {
    fieldNumber_ = number;
    type_ = type;
    SetLength(length);
    if (precision >= 0) {
        precision_ = precision;
    }
    category_ = category;
}

void KsField::SetHidden(bool hidden) {
    flags_ = hidden ? flags_ | kKsFieldHidden : flags_ & ~kKsFieldHidden;
}

void KsField::SetFlags(std::uint32_t flags, bool system) {
    (system ? flags_ : userFlags_) = flags;
}

// ---- Formats and filters

void KsField::SetFormat(std::uint8_t option, const char* name, std::unique_ptr<KsFilter> filter) {
    KsCallpath("SetFormat()", kClassName, [&] {
        bool named = name != nullptr && *name != '\0';
        if (named && GetProcessFormatLib() == nullptr) {
            KsException::Generate("No format library set", kClassName);
        }
        KsString newName(name);  // `name` may be this field's own format name
        DropFormat();
        formatOption_ = option;
        formatName_ = newName;
        filter_ = std::move(filter);
    });
}

void KsField::SetFormat(const KsFormat& format) {
    KsCallpath("SetFormat()", kClassName, [&] {
        std::unique_ptr<KsFormat> clone(format.Clone());
        KsString name(format.GetName());
        DropFormat();
        ownedFormat_ = std::move(clone);
        format_ = ownedFormat_.get();
        formatOption_ = kFormatted;
        formatName_ = name;
    });
}

void KsField::DropFormat() {
    ownedFormat_.reset();
    format_ = nullptr;
}

KsFormat* KsField::GetFormat() const {
    if (format_ != nullptr || formatName_.IsEmpty()) {
        return format_;
    }
    KsFormatLib* library = GetFormatLib();
    if (library != nullptr) {
        format_ = LookUpFormat(*library, formatName_.GetCString(), type_,
                               (flags_ & kKsFieldNonNativeDataSource) != 0);
    }
    return format_;
}

KsFormatLib* KsField::GetFormatLib() const {
    return ownerFormatLib_ != nullptr ? ownerFormatLib_ : GetProcessFormatLib();
}
