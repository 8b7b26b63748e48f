#pragma once
/// @file
/// KsField describes one field of a record file: name, type letter, length and position in
/// the record buffer, display format or input filter, flag words and a few free
/// attributes. A record file keeps one section per field in its ini-style structure file;
/// Read() and Write() move a field to and from such a section, ReadMappedField() applies
/// the section of a field that takes over another field's definition.
///
/// A field section holds these keys (a key of an empty text is not stored):
///
///   FieldName, MappedTo         name; name of the field whose definition is taken over
///   Format                      name of a display format in the format library
///   UserDefined, Type, Length, ByteOffset, Description
///   Precision, FormatOption     written when not 0
///   Category                    written when not -1
///   Index                       index count, 0 to 32, written when not 0
///   FilterType, ...             the filter's keys (see KsFilter)
///   &lt;flag type name&gt;      one key per flag type with bits set (see KsFlagType)
///   Flags, UserFlags            bits that no flag type covers
///
/// A mapped field writes only FieldName and MappedTo.
///
/// Sections are treated as hostile: a type that is no field type letter and a number that
/// does not fit its attribute (a negative length, a byte offset past 16 bits, a flag value
/// wider than its flag type) fail with a KsException that names the section.
///
/// Formats are looked up by name and type letter (by name alone for a field whose flags
/// have NonNativeDataSource) in the format library of the field's file or, for a field
/// without one, in the process-wide library of fields (the values layer's default library
/// unless an application sets another). The format found is held, not owned; a format set
/// as an object is owned as a clone.

#include <cstdint>
#include <memory>

#include "core/KsArrayPointerObject.h"
#include "core/KsString.h"
#include "core/KsVector.h"
#include "files/KsFlagType.h"

class KsFile;
class KsFilter;
class KsFormat;
class KsFormatLib;
class KsIniSection;

/// @{
/// Keys of a field's structure section (see the file notes).
inline constexpr const char* kKsFieldNameKey = "FieldName";
inline constexpr const char* kKsFieldMappedToKey = "MappedTo";
inline constexpr const char* kKsFieldFormatKey = "Format";
inline constexpr const char* kKsFieldUserDefinedKey = "UserDefined";
inline constexpr const char* kKsFieldTypeKey = "Type";
inline constexpr const char* kKsFieldLengthKey = "Length";
inline constexpr const char* kKsFieldByteOffsetKey = "ByteOffset";
inline constexpr const char* kKsFieldDescriptionKey = "Description";
inline constexpr const char* kKsFieldPrecisionKey = "Precision";
inline constexpr const char* kKsFieldFormatOptionKey = "FormatOption";
inline constexpr const char* kKsFieldCategoryKey = "Category";
inline constexpr const char* kKsFieldIndexKey = "Index";
inline constexpr const char* kKsFieldFlagsKey = "Flags";
inline constexpr const char* kKsFieldUserFlagsKey = "UserFlags";
/// @}

/// One field of a record file (see the file notes).
class KsField : public KsArrayPointerObject {
public:
    /// Values of the format option: none, a display format, an input filter.
    enum FormatOption : std::uint8_t { kNoFormat = 0, kFormatted = 1, kFiltered = 2 };
    /// The field number of a field not yet in a file.
    static constexpr std::uint16_t kUnnumbered = 0xFFFF;
    /// The category of a field without one.
    static constexpr std::int16_t kNoCategory = -1;
    /// The most indexes a field may count.
    static constexpr std::int32_t kMaxIndexCount = 32;

    /// Flag types of a caller's own (for a file, its user flag types).
    using FlagTypes = KsVector<KsFlagType*>;

    /// An empty field: no type, no name, unnumbered, category -1, no format or filter.
    KsField();
    /// Copies every attribute as Copy() does.
    KsField(const KsField& source);
    /// Not assignable: use Copy.
    KsField& operator=(const KsField&) = delete;
    ~KsField() override;

    /// Fills the field from its structure section; `number` becomes its field number.
    /// With extra flag types their bits are read into the extra flags word.
    virtual void Read(std::uint16_t number, KsIniSection& section,
                      const FlagTypes* extraFlagTypes = nullptr);
    /// Applies a mapped field's own section after the definition of the field it is mapped
    /// to was read: number, name, MappedTo, Hidden, Category, filter or format.
    virtual void ReadMappedField(std::uint16_t number, KsIniSection& section);
    /// Writes the field's keys into the section. Its own keys (not a former filter's) that
    /// it no longer has are removed, so that a section can be rewritten in place.
    virtual void Write(KsIniSection& section, const FlagTypes* extraFlagTypes = nullptr) const;
    /// A copy owned by the caller.
    KsField* Clone() const override;
    /// Takes from `source`, when it is of the same class, what this class stores of a field
    /// beyond the attributes of KsField and the table's layout decides not; KsField has
    /// nothing of that kind.
    virtual void CopyStoredForm(const KsField& source) { (void)source; }
    /// Copies every attribute; the format by name, or as a clone when the source owns it,
    /// and a clone of the source's filter.
    void Copy(const KsField& source);

    /// The constant name of a type letter ("KS_ALPHA_FLD" for 'A', ...).
    static const char* GetTypeCString(char letter);

    /// The process-wide format library of fields whose file has none; null means none is
    /// set. It is the values layer's default library until it is set otherwise.
    static KsFormatLib* GetProcessFormatLib();
    /// Sets that library (not owned; it must outlive the fields that use it).
    static void SetProcessFormatLib(KsFormatLib* library);

    /// A null description or mapped name sets it empty; the category changes only when it
    /// is 0 or more.
    void SetName(const char* name, const char* description = nullptr,
                 const char* mappedName = nullptr, std::int16_t category = kNoCategory);
    /// The name of the field whose definition this one takes over; null or empty: none.
    void SetMappedFieldName(const char* name);
    /// 0 to 32 indexes; another count raises "Invalid parameter for index count."
    /// (KsException).
    void SetIndexCount(std::int32_t count);
    /// The type letter; checked when the field is read, not here.
    void SetType(char type) { type_ = type; }
    /// Ignored unless the length is greater than 0.
    void SetLength(std::int16_t length);
    /// The offset of the field's bytes in the record buffer.
    void SetByteOffset(std::uint16_t offset) { byteOffset_ = offset; }
    /// The category, or kNoCategory.
    void SetCategory(std::int16_t category) { category_ = category; }
    /// The number of the field in its file, from 1.
    void SetFieldNumber(std::uint16_t number) { fieldNumber_ = number; }
    /// A free text stored under "UserDefined" (copied).
    void SetUserDefined(const char* text) { userDefined_ = text; }
    /// The file that owns the field and that file's own format library (null when it has
    /// none, so that the process-wide library applies). A format found before is dropped.
    void SetOwnerFile(KsFile* file, KsFormatLib* fileFormatLib = nullptr);
    /// Number, type and category; the length unless it is 0 or less, the precision unless
    /// it is negative.
    void SetAttributes(std::uint16_t number, char type, std::int16_t length, std::int16_t precision,
                       std::int16_t category);
    /// Sets or clears the Hidden bit of the Flags word.
    void SetHidden(bool hidden);
    /// The system word (Flags) or the user word (UserFlags), read or replaced as a whole.
    std::uint32_t GetFlags(bool system = true) const { return system ? flags_ : userFlags_; }
    /// Replaces the system word (Flags) or the user word (UserFlags).
    void SetFlags(std::uint32_t flags, bool system = true);
    /// The word of the caller's extra flag types.
    std::uint32_t GetExtraFlags() const { return extraFlags_; }
    /// Replaces the word of the extra flag types.
    void SetExtraFlags(std::uint32_t flags) { extraFlags_ = flags; }
    /// Passed to the filter registry when a section names a filter: when set, a filter
    /// class the application has not registered is an error, else the field has no filter.
    bool GetFilterFlag() const { return filterFlag_; }
    /// Sets that strictness.
    void SetFilterFlag(bool strict) { filterFlag_ = strict; }

    /// Drops the format object, stores the option and the format name (null or empty: no
    /// format) and takes the filter in place of the current one. A format name needs a
    /// process-wide format library: "No format library set".
    void SetFormat(std::uint8_t option, const char* name, std::unique_ptr<KsFilter> filter);
    /// Format option 1 with the format's name and an owned clone of it.
    void SetFormat(const KsFormat& format);
    /// The format object, looked up on first use; null without a format name or when the
    /// library has no such format. Flags with NonNativeDataSource look up by name alone,
    /// others by name and the field's type letter.
    KsFormat* GetFormat() const;
    /// Whether the format in use is the field's own clone.
    bool OwnsFormat() const { return ownedFormat_ != nullptr; }

    /// @{
    /// The attributes as set or read. Texts are valid while the field is unchanged; the
    /// filter is owned by the field, the owner file is not.
    char GetType() const { return type_; }
    const char* GetName() const { return name_.GetCString(); }
    const char* GetDescription() const { return description_.GetCString(); }
    const char* GetMappedFieldName() const { return mappedName_.GetCString(); }
    bool IsMapped() const { return !mappedName_.IsEmpty(); }
    const char* GetUserDefined() const { return userDefined_.GetCString(); }
    std::int16_t GetLength() const { return length_; }
    std::int16_t GetPrecision() const { return precision_; }
    const char* GetFormatName() const { return formatName_.GetCString(); }
    std::uint8_t GetFormatOption() const { return formatOption_; }
    KsFilter* GetFilter() const { return filter_.get(); }
    std::uint16_t GetFieldNumber() const { return fieldNumber_; }
    std::int16_t GetCategory() const { return category_; }
    std::int16_t GetIndexCount() const { return indexCount_; }
    std::uint16_t GetByteOffset() const { return byteOffset_; }
    bool IsHidden() const { return (flags_ & kKsFieldHidden) != 0; }
    KsFile* GetOwnerFile() const { return ownerFile_; }
    /// @}

    /// @{
    /// The flag half of Read() and Write(): one key per flag type of the field flag
    /// registry with bits set, leftover bits under Flags and UserFlags, then the extra
    /// flag types (whose leftover bits are not stored).
    void ReadFlagsFromIni(const KsIniSection& section, const FlagTypes* extraFlagTypes);
    void WriteFlagsToIni(KsIniSection& section, const FlagTypes* extraFlagTypes) const;
    /// @}

protected:
    /// Read() without the check of the type letter, for a field class that stores type
    /// codes of its own under "Type": it maps them and then calls CheckType().
    void ReadDefinition(std::uint16_t number, KsIniSection& section,
                        const FlagTypes* extraFlagTypes);
    /// Fails unless the type is a field type letter.
    void CheckType(const KsIniSection& section) const;

private:
    void DropFormat();
    void CheckFilterOrFormat(const KsIniSection& section) const;
    void ReadFilter(KsIniSection& section);
    void WriteDefinition(KsIniSection& section) const;
    // The library that applies to this field, or null.
    KsFormatLib* GetFormatLib() const;

    std::unique_ptr<KsFormat> ownedFormat_;
    char type_ = 0;
    KsString name_;
    KsString description_;
    KsString mappedName_;
    KsString userDefined_;
    std::int16_t length_ = 0;
    std::int16_t precision_ = 0;
    KsString formatName_;
    std::uint8_t formatOption_ = kNoFormat;
    // The format in use: the owned one, or one found in a library on first use.
    mutable KsFormat* format_ = nullptr;
    std::unique_ptr<KsFilter> filter_;
    bool filterFlag_ = true;
    std::uint16_t fieldNumber_ = kUnnumbered;
    std::int16_t category_ = kNoCategory;
    std::int16_t indexCount_ = 0;
    std::uint16_t byteOffset_ = 0;
    std::uint32_t flags_ = 0;
    std::uint32_t userFlags_ = 0;
    std::uint32_t extraFlags_ = 0;
    KsFile* ownerFile_ = nullptr;
    KsFormatLib* ownerFormatLib_ = nullptr;
};
