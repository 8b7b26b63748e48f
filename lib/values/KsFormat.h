#pragma once
/// @file

#include <cstdint>
#include <string>

#include "core/KsArrayPointerObject.h"
#include "core/KsString.h"
#include "core/KsVector.h"
#include "values/KsValueTypeLetters.h"

/// One value or range of values of a format line.
class KsFormatRange : public KsArrayPointerObject {
public:
    /// Kinds: 0 the value equals low; 1 low <= v <= high; 2 low <= v < high;
    /// 3 low < v <= high; 4 low < v < high.
    enum Kind : std::uint8_t { kSingle = 0, kClosed = 1, kHighOpen = 2, kLowOpen = 3, kOpen = 4 };
    /// The longest bound of a text range, in characters.
    static constexpr std::uint32_t kMaximumTextLength = 32;

    /// A text range; a missing bound or one of 33 characters or more is refused with
    /// "Invalid format range" (KsException).
    KsFormatRange(const char* low, const char* high, std::uint8_t kind);
    /// A range of numbers of `type` (N, I, W, S or U), held exactly as doubles; another
    /// type raises "Invalid character type" (KsException).
    KsFormatRange(double low, double high, std::uint8_t kind, char type);
    /// @{
    /// Copies bounds, kind and type.
    KsFormatRange(const KsFormatRange&) = default;
    KsFormatRange& operator=(const KsFormatRange&) = default;
    /// @}
    ~KsFormatRange() override = default;
    KsFormatRange* Clone() const override { return new KsFormatRange(*this); }

    /// Copies the low bound in the native form of `type`: a text with its NUL (up to 33
    /// bytes) or the number as double, int32, uint32, int16 or uint16.
    void GetLow(void* out, char type) const;
    /// Whether the text range holds `text`, compared with or without case.
    bool Holds(const char* text, bool caseSensitive) const;
    /// Whether the number range holds `number`.
    bool Holds(double number) const;

    /// The Kind.
    std::uint8_t GetKind() const { return kind_; }
    /// The type letter: A for a text range, else the number type.
    char GetType() const { return type_; }
    /// The low bound of a text range (empty for a number range); valid while the range is.
    const char* GetLowText() const { return lowText_.c_str(); }
    /// The low bound of a number range.
    double GetLowNumber() const { return low_; }
    /// The high bound of a number range (not used by kSingle).
    double GetHighNumber() const { return high_; }

private:
    template <class Compare>
    bool InRange(Compare compare) const;

    std::string lowText_;
    std::string highText_;
    double low_ = 0;
    double high_ = 0;
    std::uint8_t kind_;
    char type_;
};

/// One line of a format: a value list parsed into ranges, and a label.
class KsFormatLine : public KsArrayPointerObject {
public:
    /// Without a value list and a label the line is empty and has no range; otherwise
    /// the value list is parsed for values of `type`.
    KsFormatLine(const char* valueSpec = nullptr, const char* label = nullptr,
                 char type = KS_LONG_FLD, bool caseSensitive = true);
    /// @{
    /// Copies the value list, the label and deep copies of the ranges.
    KsFormatLine(const KsFormatLine&) = default;
    KsFormatLine& operator=(const KsFormatLine&) = default;
    /// @}
    ~KsFormatLine() override = default;
    KsFormatLine* Clone() const override { return new KsFormatLine(*this); }
    /// Becomes a copy of `other`.
    void Copy(const KsFormatLine& other) { *this = other; }

    /// The label (copied; null is the empty label).
    void SetLabel(const char* label);
    /// Replaces the value list and its ranges.
    void SetValue(const char* valueSpec);
    /// The same as SetValue.
    void SetValueString(const char* valueSpec) { SetValue(valueSpec); }
    /// The label; valid while the line is unchanged.
    const char* GetLabel() const { return label_.GetCString(); }
    /// The value list as given; valid while the line is unchanged.
    const char* GetValue() const { return valueSpec_.GetCString(); }
    /// The ranges parsed from the value list.
    std::int32_t GetNumRanges() const { return static_cast<std::int32_t>(ranges_.size()); }
    /// Range `index` from 0, owned by the line. An index outside the vector raises its range error
    /// (KsException).
    const KsFormatRange* GetRange(std::int32_t index) const;
    /// Deletes range `index`. An index outside the vector raises its range error (KsException).
    void DeleteRange(std::int32_t index);
    /// Deletes every range; the value list stays as it was.
    void DeleteAllRanges() { ranges_.clear(); }
    /// Whether text values are compared with case.
    void SetCaseSensitive(bool caseSensitive) { caseSensitive_ = caseSensitive; }

    /// Whether any range holds the value: a text (converted to the line's type) when
    /// `valueIsText`, else a value in the native form of `type`.
    bool GetIsInFormatLine(const void* value, char type, bool valueIsText) const;

private:
    void SetAllRanges();
    void CreateRange(const std::string& piece);
    void CreateBlankRange();
    /// The range of the texts in the line's type.
    void AddRange(const std::string& low, const std::string& high, std::uint8_t kind);

    KsString valueSpec_;
    KsString label_;
    KsPointerVector<KsFormatRange> ranges_;
    char type_;
    bool caseSensitive_;
};

/// Value-label formats. A format is a named table whose lines pair a value list
/// with a label, so that a coded value can be shown as its label (Format) and a label read
/// back as a value (UnFormat). A value list is a comma-separated list of single values
/// and ranges: "1-5" holds 1 to 5, "1<-5" 2 to 5, "1-<5" 1 to 4, "1<-<5" 2 to 4; a whole
/// list in double quotes is one single value, commas included; an empty one
/// holds the type's blank value. Values have one of the types A (text, at most 32
/// characters), N (double), I (signed 32-bit), W (unsigned 32-bit), S (signed 16-bit) and
/// U (unsigned 16-bit).
///
/// Formats live in dictionary files (ini files): section "Format=<name>" holds the lines
/// (key = value list, value = label) and sections "FormatDataType",
/// "FormatCaseSensitivity" and "FormatEditableByUser" hold each format's type letter and
/// flags. A dictionary loads formats on demand; a library searches several dictionaries.
class KsFormat : public KsArrayPointerObject {
public:
    /// An empty format in memory.
    explicit KsFormat(const char* name = nullptr, char type = KS_LONG_FLD);
    /// The format `name` of the dictionary file, `type` unless the file names another.
    KsFormat(const char* name, const char* dictionaryFile, char type);
    /// @{
    /// Copies the name, the settings and deep copies of the lines.
    KsFormat(const KsFormat&) = default;
    KsFormat& operator=(const KsFormat&) = default;
    /// @}
    ~KsFormat() override = default;
    KsFormat* Clone() const override { return new KsFormat(*this); }

    /// Adds the lines and settings of format `name` of the dictionary file.
    void LoadFormat(const char* dictionaryFile, const char* name, char type);
    /// Adds a line at `position`, or at the end for a negative position.
    void AddLine(const char* sValue, const char* sLabel, std::int32_t position = -1);
    /// The lines of the format.
    std::int32_t GetNumLines() const { return static_cast<std::int32_t>(lines_.size()); }
    /// Line `index` from 0, owned by the format. An index outside the vector raises its range error
    /// (KsException).
    const KsFormatLine* GetLine(std::int32_t index) const { return lines_[index]; }

    /// The index of the first line holding the value (see KsFormatLine), or -1; when found
    /// its label is copied into sLabel (at most size - 1 characters and a NUL).
    std::int32_t Format(const void* value, bool valueIsText, char* sLabel,
                        std::uint32_t size) const;
    /// The same for a value given as text.
    std::int32_t Format(const char* valueText, KsString& label) const;
    /// The index of the first line with that label (compared with or without case as the
    /// format says), or -1; when found the low value of its first range is copied into
    /// `value` in the format's native form (a text needs 33 bytes).
    std::int32_t UnFormat(const char* label, void* value) const;
    /// "Format=<name>", the name of the format's section in a dictionary.
    KsString CreateFormatHeader() const;

    /// The name; valid while the format is.
    const char* GetName() const { return name_.GetCString(); }
    /// The type letter of the values (A, N, I, W, S or U).
    char GetType() const { return type_; }
    /// Whether texts and labels are compared with case.
    bool GetCaseSensitive() const { return caseSensitive_; }
    /// Sets the comparison of the format and of every line.
    void SetCaseSensitive(bool caseSensitive);
    /// Whether users may change the format (stored in "FormatEditableByUser").
    bool GetEditableByUser() const { return editable_; }
    /// Sets whether users may change the format.
    void SetEditableByUser(bool editable) { editable_ = editable; }

private:
    std::int32_t GetIndexFromValue(const void* value, bool valueIsText) const;
    std::int32_t GetIndexFromLabel(const char* label) const;

    KsString name_;
    KsPointerVector<KsFormatLine> lines_;
    char type_;
    bool caseSensitive_ = true;
    bool editable_ = true;
};

/// The formats of one dictionary file, loaded on demand and kept sorted by name.
class KsFormatDict : public KsArrayPointerObject {
public:
    /// A dictionary of the file; without a file it holds only what is added to it.
    explicit KsFormatDict(const char* fileName = nullptr, char defaultType = KS_LONG_FLD);
    /// Copies the file name and deep copies of the loaded formats.
    KsFormatDict(const KsFormatDict&) = default;
    ~KsFormatDict() override = default;
    KsFormatDict* Clone() const override { return new KsFormatDict(*this); }

    /// The loaded format, or the format loaded with the default type; null when the
    /// dictionary has no such format.
    KsFormat* GetFormat(const char* sFormatName);
    /// As above; a format loaded with another type letter is loaded again with cType.
    KsFormat* GetFormat(const char* sFormatName, char cType);
    /// Loaded format `lIndex` from 0 (in name order), owned by the dictionary. An index outside the
    /// vector raises its range error (KsException).
    KsFormat* GetFormat(std::int32_t lIndex) { return formats_[lIndex]; }
    /// The name of loaded format `index`. An index outside the vector raises its range error
    /// (KsException).
    const char* GetFormatName(std::int32_t index) const { return formats_[index]->GetName(); }
    /// The index of the loaded format of that name, or -1 (also for a null name).
    std::int32_t GetLoadedFormatIndex(const char* name) const;
    /// The formats loaded or added so far.
    std::int32_t GetNumLoadedFormats() const { return static_cast<std::int32_t>(formats_.size()); }
    /// Loads the format from the file; null when the file has no lines for it. A format
    /// already loaded under that name takes over the new content and is returned.
    KsFormat* LoadFormat(const char* name, char type);
    /// Deletes loaded format `index`; pointers to it become invalid. An index outside the vector
    /// raises its range error (KsException).
    void UnloadFormat(std::int32_t index);
    /// Takes ownership of a format made in memory; one of the same name is replaced.
    KsFormat* AddFormat(KsFormat* format);

    /// The dictionary file; empty for a dictionary in memory.
    const char* GetFileName() const { return fileName_.GetCString(); }

private:
    KsFormat* Insert(KsFormat* format);

    KsString fileName_;
    bool inMemory_;
    char defaultType_;
    KsPointerVector<KsFormat> formats_;
};

/// Several dictionaries searched in order.
class KsFormatLib {
public:
    /// Without dictionaries. `loadFromAnyDictionary` lets GetFormat load a format that no
    /// dictionary has loaded yet.
    explicit KsFormatLib(bool loadFromAnyDictionary = true) : loadFromAny_(loadFromAnyDictionary) {}

    /// Takes ownership of the dictionary; null is ignored.
    void AddDictionary(KsFormatDict* dictionary);
    /// Dictionary `index` from 0, owned by the library. An index outside the vector raises its
    /// range error (KsException).
    KsFormatDict* GetDictionary(std::int32_t index);
    /// The dictionaries added.
    std::int32_t GetNumDictionaries() const {
        return static_cast<std::int32_t>(dictionaries_.size());
    }
    /// The first dictionary that has the format loaded returns it; otherwise, when loading
    /// is allowed, each dictionary in turn is asked to load it. Null when none has it.
    KsFormat* GetFormat(const char* name);

private:
    KsPointerVector<KsFormatDict> dictionaries_;
    bool loadFromAny_;
};

/// The process-wide format library through which fields find their formats.
KsFormatLib& KsDefaultFormatLib();
