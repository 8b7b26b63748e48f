#pragma once
/// @file

#include <cstdint>
#include <memory>

#include "core/KsArrayPointerObject.h"
#include "core/KsString.h"
#include "core/KsVector.h"
#include "io/KsIO.h"
#include "io/KsIOFactory.h"

/// One "key=value" line of an ini file (see KsIniFile).
class KsIniLine : public KsArrayPointerObject {
public:
    /// Splits sLine at its first "=" as SetLine does.
    explicit KsIniLine(const char* sLine);
    /// The key, trimmed, and the value as given (see SetKey and SetValue).
    KsIniLine(const char* sKey, const char* sValue);
    /// @{
    /// Copies key and value.
    KsIniLine(const KsIniLine& other) = default;
    KsIniLine& operator=(const KsIniLine& other) = default;
    /// @}
    ~KsIniLine() override = default;
    /// A copy owned by the caller.
    KsIniLine* Clone() const override { return new KsIniLine(*this); }

    /// The key is the trimmed text before the first "=", the value the text after it,
    /// untrimmed. Without "=" the whole text is the key and the value stays as it was.
    void SetLine(const char* sLine);
    /// Stores the key trimmed at both ends.
    void SetKey(const char* sKey);
    /// Stores the value as given; null stores the empty text.
    void SetValue(const char* sValue);
    /// The key; valid until the line changes.
    const char* GetKey() const { return key_.GetCString(); }
    /// The value; valid until the line changes.
    const char* GetValue() const { return value_.GetCString(); }

private:
    KsString key_;
    KsString value_;
};

/// A named list of lines with their comments (see KsIniFile). Setters mark it modified.
/// Errors are KsException objects of class "KsIniSection"; a line index out of range
/// raises the vector's range error.
class KsIniSection : public KsArrayPointerObject {
public:
    /// An empty section named `name` (put in brackets unless it starts with "["), not
    /// modified; a null or empty name leaves the section without a name.
    explicit KsIniSection(const char* name = nullptr);
    /// Copies the lines, the comments, the name and both flags.
    KsIniSection(const KsIniSection& other);
    /// Replaces lines, comments, name and flags by copies of those of `other`.
    KsIniSection& operator=(const KsIniSection& other);
    ~KsIniSection() override = default;
    /// A copy owned by the caller.
    KsIniSection* Clone() const override { return new KsIniSection(*this); }
    /// A new section with this section's name and flags but no lines.
    KsIniSection* Copy() const;

    /// Renames the section: in brackets unless `name` starts with "["; null or empty
    /// leaves it without a name.
    void SetName(const char* name);
    /// The name with its brackets; empty for a section without a name.
    const char* GetName() const { return name_.GetCString(); }

    /// Appends a line split as KsIniLine::SetLine does; an empty text adds nothing.
    void AddLine(const char* sLine);
    /// Appends a line of that key and value.
    void AddLine(const char* sKeyName, const char* sEntry);
    /// Index of the first line whose key equals `key` without regard to case, or -1.
    std::int32_t FindKey(const char* key) const;
    /// The number of lines.
    std::int32_t GetNumLines() const { return static_cast<std::int32_t>(lines_.size()); }
    /// @{
    /// Line `index` (from 0), still owned by the section.
    KsIniLine* GetLine(std::int32_t index) { return lines_[index]; }
    const KsIniLine* GetLine(std::int32_t index) const { return lines_[index]; }
    /// @}
    /// Comments standing before line `index`; GetNumLines() gives those after the last line.
    const KsVector<KsString>& GetComments(std::int32_t index) const { return comments_[index]; }
    /// Adds a comment before line `index` (GetNumLines(): after the last line).
    void AddComment(std::int32_t index, const char* comment);

    /// The value of the key, or sDefault when there is none. The text stays valid until
    /// the next GetString on this section.
    const char* GetString(const char* sKeyName, const char* sDefault);
    /// The same copied into sReturn: at most size - 1 characters and a NUL.
    void GetString(const char* sKeyName, const char* sDefault, char* sReturn,
                   std::uint32_t size) const;
    /// The trimmed value: a decimal number, a hexadecimal one after "0x", else `def`.
    std::int32_t GetInt(const char* key, std::int32_t def) const;
    /// "true" and "yes" in any case are true, so is the number 1; empty gives `def`.
    bool GetBool(const char* key, bool def) const;
    /// Decodes upper-case hexadecimal pairs into sReturn, which is first cleared and always
    /// ends in a NUL; an empty value gives size - 1 bytes of `fill`.
    void GetBinaryString(const char* key, char* sReturn, std::uint16_t size, char fill) const;

    /// Adds, replaces or (with an empty value) removes the key's line. The comments before
    /// a removed line move to the line that follows it.
    void SetString(const char* key, const char* value);
    /// SetString with the number in decimal.
    void SetInt(const char* key, std::int32_t value);
    /// SetString with "true" or "false".
    void SetBool(const char* key, bool value);
    /// Each byte as two upper-case hexadecimal digits.
    void SetBinaryString(const char* key, const unsigned char* bytes, std::uint16_t count);

    /// Reads the lines from the stream's position up to the next section or the end; the
    /// next section's header is left unread.
    void LoadSection(KsIOInterface& io);
    /// Writes the section in its text form; a section without lines writes nothing.
    void Write(KsOutputStreamInterface& io);

    /// Whether anything was changed since the section was made or loaded.
    bool IsModified() const { return modified_; }
    /// @{
    /// Whether the section's lines were read from the file (or made in memory).
    bool IsLoaded() const { return loaded_; }
    void SetLoaded(bool loaded) { loaded_ = loaded; }
    /// @}

private:
    void RemoveLine(std::int32_t index);

    KsPointerVector<KsIniLine> lines_;
    KsVector<KsVector<KsString>> comments_;
    KsString name_;
    KsString result_;
    bool modified_ = false;
    bool loaded_ = false;
};

/// Ini files: named sections of key=value lines with comment lines kept in place.
///
/// KsIniLine is one key and its value. KsIniSection is a named list of lines; beside the
/// lines it keeps one list of comments per line plus one: entry i holds the comments that
/// stand before line i, the last entry those after the last line. KsIniFile holds the
/// sections of one file on disk: it finds their names when it opens the file, loads the
/// lines of a section when the section is first asked for, and writes every section back
/// through a new file beside it that then takes its place, so that the file on disk is
/// always either the old one or the new one. Nothing is written unless Write is called.
///
/// The text form: a section starts at a line "[name]"; inside it ";" starts a comment and
/// any other line is "key=value", both trimmed. A value written with leading or trailing
/// blanks (or that itself starts and ends with a double quote) is put in double quotes,
/// which reading removes again. Keys and section names match without regard to case.
class KsIniFile {
public:
    /// The tag of the new file that Write puts in the place of the file (see
    /// KsReplacementFile).
    static constexpr const char* kNewFileTag = "ini";
    /// No file: sections live in memory only.
    KsIniFile();
    /// Opens `fileName` with `flags` (creating an empty file first when `create` is set and
    /// none exists) and reads the names of its sections, and with `loadAll` their lines.
    /// Files are opened, replaced and deleted through `factory`, which must outlive this.
    KsIniFile(const char* fileName, bool loadAll = false, bool create = false, int flags = IO_READ,
              KsIOFactory& factory = KsIOFactory::Default());
    KsIniFile(const KsIniFile&) = delete;
    KsIniFile& operator=(const KsIniFile&) = delete;
    /// Closes the file. Nothing is written: changes not written are lost.
    virtual ~KsIniFile();

    /// The number of sections, loaded or not.
    std::int32_t GetNumSections() const { return static_cast<std::int32_t>(sections_.size()); }
    /// The section, loaded from the file first if it was not loaded.
    KsIniSection* GetSection(std::int32_t lIndex);
    /// The loaded section of that name; a new empty one when there is none; null for a null
    /// or empty name.
    KsIniSection* GetSection(const char* sSectionName);
    /// Index of the first section at or after `start` whose name matches `name` (with or
    /// without brackets), or only starts with it when `prefix` is set; -1 when none does.
    std::int32_t GetSectionIndex(const char* name, std::int32_t start = 0,
                                 bool prefix = false) const;
    /// Adds a new empty section of that name and returns it; raises "Section already
    /// exists." when the file has one of that name.
    KsIniSection* AddSection(const char* sSectionName);
    /// Takes ownership of the section, also when it is refused (null, or a name the file
    /// already has); it counts as loaded.
    KsIniSection* AddSection(KsIniSection* pSection);
    /// Loads the lines of every section not loaded yet; raises for sections without a file.
    void LoadUnLoadedSections();
    /// Writes every section to a new file in the file's directory and puts it in the file's
    /// place; the file is then opened again with `flags`. Without `loadUnloaded`, sections
    /// never loaded are dropped. When it raises, the file on disk is the old one (or the
    /// new one when only opening it again failed), no new file is left behind, and the
    /// file is open again, with its old flags, when it can be.
    void Write(bool loadUnloaded = true, int flags = IO_READ);

    /// The file's name as given; empty without a file.
    const char* GetFileName() const { return fileName_.GetCString(); }

private:
    /// Moves to the next section header at or after the position and leaves the position
    /// there; false at the end of the file.
    bool FindNextSectionHeader();
    /// Loads the sections of `wanted` (indexes of sections not loaded) from the file.
    void LoadFromFile(const KsVector<std::int32_t>& wanted);
    /// Writes every section to the new file `name`.
    void WriteSectionsTo(const char* name);
    /// Opens the file again with `flags` unless it is open.
    void ReopenQuietly(int flags) noexcept;

    KsIOFactory* factory_;
    std::unique_ptr<KsIOInterface> file_;  // null until a file is opened
    KsString fileName_;
    KsPointerVector<KsIniSection> sections_;
};
