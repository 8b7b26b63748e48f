#include "ini/KsIniFile.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "core/KsStringTokenizer.h"
#include "core/KsText.h"
#include "io/KsFileName.h"
#include "io/KsIOLockGuard.h"
#include "io/KsReplacementFile.h"

namespace {

constexpr const char* kLineClass = "KsIniLine";
constexpr const char* kSectionClass = "KsIniSection";
constexpr const char* kFileClass = "KsIniFile";

// A copy of `text` without bytes of value 32 or less at either end; null reads as empty.
std::string Trimmed(const char* text) {
    return std::string(KsText::TrimBlanksAndControls(text != nullptr ? text : ""));
}

bool IsSectionHeader(const std::string& line) {
    return !line.empty() && line.front() == '[' && line.back() == ']';
}

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

// A value that reading would change (trim, or lose its outer quotes) goes in quotes.
bool NeedsQuotes(const char* value) {
    std::size_t length = std::strlen(value);
    if (length == 0) {
        return false;
    }
    if (IsBlank(value[0]) || IsBlank(value[length - 1])) {
        return true;
    }
    return length >= 2 && value[0] == '"' && value[length - 1] == '"';
}

void WriteText(KsOutputStreamInterface& io, const char* text) {
    io.WriteString(text, false);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The decimal value of digits after an optional "-", as the C library's atol reads it,
// kept within 32 bits.
std::int32_t DecimalValue(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > 2147483648LL) {
            value = 2147483648LL;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT32_MAX) {
        value = INT32_MAX;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

// ---- KsIniLine

KsIniLine::KsIniLine(const char* sLine) {
    KsCallpath("KsIniLine()", kLineClass, [&] { SetLine(sLine); });
}

KsIniLine::KsIniLine(const char* sKey, const char* sValue) {
    KsCallpath("KsIniLine()", kLineClass, [&] {
        SetKey(sKey);
        SetValue(sValue);
    });
}

void KsIniLine::SetLine(const char* sLine) {
    KsCallpath("SetLine()", kLineClass, [&] {
        if (sLine == nullptr) {
            KsException::Generate("null pointer: sLine", kLineClass);
        }
        const char* equals = std::strchr(sLine, '=');
        if (equals == nullptr) {
            SetKey(sLine);
            return;
        }
        SetKey(std::string(sLine, static_cast<std::size_t>(equals - sLine)).c_str());
        SetValue(equals + 1);
    });
}

void KsIniLine::SetKey(const char* sKey) {
    key_ = Trimmed(sKey).c_str();
}

void KsIniLine::SetValue(const char* sValue) {
    value_ = sValue != nullptr ? sValue : "";
}

// ---- KsIniSection

KsIniSection::KsIniSection(const char* name) {
    KsCallpath("KsIniSection()", kSectionClass, [&] {
        comments_.resize(1);
        SetName(name);
        modified_ = false;
    });
}

KsIniSection::KsIniSection(const KsIniSection& other)
    : KsArrayPointerObject(other),
      lines_(other.lines_),
      comments_(other.comments_),
      name_(other.name_),
      modified_(other.modified_),
      loaded_(other.loaded_) {}

KsIniSection& KsIniSection::operator=(const KsIniSection& other) {
    if (this != &other) {
        KsIniSection copy(other);
        lines_.swap(copy.lines_);
        comments_.swap(copy.comments_);
        name_ = copy.name_;
        modified_ = copy.modified_;
        loaded_ = copy.loaded_;
    }
    return *this;
}

KsIniSection* KsIniSection::Copy() const {
    auto* section = new KsIniSection(name_.GetCString());
    section->modified_ = modified_;
    section->loaded_ = loaded_;
    return section;
}

void KsIniSection::SetName(const char* name) {
    if (name == nullptr || *name == '\0') {
        name_.Clear();
    } else if (name[0] == '[') {
        name_ = name;
    } else {
        name_.printf("[%s]", name);
    }
    modified_ = true;
}

void KsIniSection::AddLine(const char* sLine) {
    KsCallpath("AddLine()", kSectionClass, [&] {
        if (sLine == nullptr || *sLine == '\0') {
            return;
        }
        auto line = std::make_unique<KsIniLine>(sLine);
        comments_.emplace_back();
        lines_.Add(std::move(line));
        modified_ = true;
    });
}

void KsIniSection::AddLine(const char* sKeyName, const char* sEntry) {
    KsCallpath("AddLine()", kSectionClass, [&] {
        auto line = std::make_unique<KsIniLine>(sKeyName, sEntry);
        comments_.emplace_back();
        lines_.Add(std::move(line));
        modified_ = true;
    });
}

void KsIniSection::AddComment(std::int32_t index, const char* comment) {
    KsCallpath("AddComment()", kSectionClass, [&] {
        comments_[index].push_back(KsString(comment));
        modified_ = true;
    });
}

std::int32_t KsIniSection::FindKey(const char* key) const {
    if (key == nullptr) {
        return -1;
    }
    for (std::int32_t i = 0; i < GetNumLines(); ++i) {
        if (strcasecmp(lines_[i]->GetKey(), key) == 0) {
            return i;
        }
    }
    return -1;
}

const char* KsIniSection::GetString(const char* sKeyName, const char* sDefault) {
    std::int32_t index = FindKey(sKeyName);
    result_ = index >= 0 ? lines_[index]->GetValue() : sDefault;
    return result_.GetCString();
}

void KsIniSection::GetString(const char* sKeyName, const char* sDefault, char* sReturn,
                             std::uint32_t size) const {
    KsCallpath("GetString()", kSectionClass, [&] {
        if (sReturn == nullptr) {
            KsException::Generate("null pointer: sReturn", kSectionClass);
        }
        if (size == 0) {
            return;
        }
        std::int32_t index = FindKey(sKeyName);
        const char* value = index >= 0 ? lines_[index]->GetValue() : sDefault;
        if (value == nullptr) {
            value = "";
        }
        std::size_t n = std::min<std::size_t>(std::strlen(value), size - 1);
        std::memcpy(sReturn, value, n);
        sReturn[n] = '\0';
    });
}

std::int32_t KsIniSection::GetInt(const char* key, std::int32_t def) const {
    std::int32_t index = FindKey(key);
    std::string value = Trimmed(index >= 0 ? lines_[index]->GetValue() : "");
    if (value.empty()) {
        return def;
    }
    if (value.find_first_not_of("-0123456789") == std::string::npos) {
        return DecimalValue(value);
    }
    if (value.compare(0, 2, "0x") == 0) {
        // Hexadecimal digits up to the first other character; none, or more than 32 bits
        // of them, is no number.
        std::uint64_t number = 0;
        std::size_t i = 2;
        for (; i < value.size() && std::isxdigit(static_cast<unsigned char>(value[i])); ++i) {
            char c = static_cast<char>(std::tolower(static_cast<unsigned char>(value[i])));
            number = number * 16 + static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
            if (number > UINT32_MAX) {
                return def;
            }
        }
        if (i == 2) {
            return def;
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
    }
    return def;
}

bool KsIniSection::GetBool(const char* key, bool def) const {
    std::int32_t index = FindKey(key);
    std::string value = Trimmed(index >= 0 ? lines_[index]->GetValue() : "");
    if (value.empty()) {
        return def;
    }
    if (strcasecmp(value.c_str(), "true") == 0 || strcasecmp(value.c_str(), "yes") == 0) {
        return true;
    }
    return DecimalValue(value) == 1;
}

void KsIniSection::GetBinaryString(const char* key, char* sReturn, std::uint16_t size,
                                   char fill) const {
    KsCallpath("GetBinaryString()", kSectionClass, [&] {
        if (sReturn == nullptr) {
            KsException::Generate("null pointer: sReturn", kSectionClass);
        }
        std::memset(sReturn, 0, size);
        std::int32_t index = FindKey(key);
        const char* value = index >= 0 ? lines_[index]->GetValue() : "";
        std::int32_t length = static_cast<std::int32_t>(std::strlen(value));
        std::int32_t room = std::int32_t{size} - 1;
        if (length == 0) {
            if (room > 0) {
                std::memset(sReturn, fill, static_cast<std::size_t>(room));
            }
            return;
        }
        if (room < length / 2) {
            KsException::Generate("sReturn string not big enough", kSectionClass);
        }
        for (std::int32_t i = 0; i + 1 < length; i += 2) {
            int high = HexDigit(value[i]);
            int low = HexDigit(value[i + 1]);
            if (high < 0 || low < 0) {
                KsException::Generate("Invalid binary string", kSectionClass);
            }
            sReturn[i / 2] = static_cast<char>(high * 16 + low);
        }
    });
}

void KsIniSection::RemoveLine(std::int32_t index) {
    // The removed line's comments stay in the file, before the line that followed it.
    KsVector<KsString>& before = comments_[index];
    KsVector<KsString>& next = comments_[index + 1];
    next.insert(next.begin(), before.begin(), before.end());
    comments_.erase(comments_.begin() + index);
    lines_.DeleteAt(index);
}

void KsIniSection::SetString(const char* key, const char* value) {
    KsCallpath("SetString()", kSectionClass, [&] {
        if (key == nullptr || value == nullptr) {
            return;
        }
        std::int32_t index = FindKey(key);
        if (index >= 0) {
            if (*value == '\0') {
                RemoveLine(index);
            } else {
                lines_[index]->SetValue(value);
            }
            modified_ = true;
        } else if (*value != '\0') {
            AddLine(key, value);
        }
    });
}

void KsIniSection::SetInt(const char* key, std::int32_t value) {
    KsString text;
    text.printf("%d", value);
    SetString(key, text.GetCString());
}

void KsIniSection::SetBool(const char* key, bool value) {
    SetString(key, value ? "true" : "false");
}

void KsIniSection::SetBinaryString(const char* key, const unsigned char* bytes,
                                   std::uint16_t count) {
    KsCallpath("SetBinaryString()", kSectionClass, [&] {
        if (bytes == nullptr && count > 0) {
            KsException::Generate("null pointer: bytes", kSectionClass);
        }
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::string text;
        text.reserve(std::size_t{count} * 2);
        for (std::uint16_t i = 0; i < count; ++i) {
            text += kDigits[bytes[i] >> 4];
            text += kDigits[bytes[i] & 0x0F];
        }
        SetString(key, text.c_str());
    });
}

void KsIniSection::LoadSection(KsIOInterface& io) {
    KsCallpath("LoadSection()", kSectionClass, [&] {
        KsString raw;
        while (true) {
            std::int32_t position = io.Tell();
            if (io.ReadLine(raw) == 0) {
                break;
            }
            std::string line = Trimmed(raw.GetCString());
            if (line.empty()) {
                continue;
            }
            if (line[0] == '[') {
                // The next section reads its own header.
                io.Seek(position, 0);
                break;
            }
            if (line[0] == ';') {
                comments_.back().push_back(KsString(line.c_str() + 1));
                continue;
            }
            std::size_t equals = line.find('=');
            std::string key = equals == std::string::npos ? line : line.substr(0, equals);
            std::string value =
                equals == std::string::npos ? "" : Trimmed(line.c_str() + equals + 1);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            AddLine(key.c_str(), value.c_str());
        }
        loaded_ = true;
        modified_ = false;
    });
}

void KsIniSection::Write(KsOutputStreamInterface& io) {
    KsCallpath("Write()", kSectionClass, [&] {
        if (name_.IsEmpty()) {
            KsException::Generate("Cannot write a section which does not have a name.",
                                  kSectionClass);
        }
        if (lines_.empty()) {
            modified_ = false;
            return;
        }
        auto writeComments = [&](const KsVector<KsString>& comments) {
            for (const KsString& comment : comments) {
                WriteText(io, ";");
                WriteText(io, comment.GetCString());
                WriteText(io, "\r\n");
            }
        };
        WriteText(io, name_.GetCString());
        WriteText(io, "\r\n");
        for (std::int32_t i = 0; i < GetNumLines(); ++i) {
            writeComments(comments_[i]);
            const KsIniLine& line = *lines_[i];
            WriteText(io, line.GetKey());
            WriteText(io, "=");
            if (NeedsQuotes(line.GetValue())) {
                WriteText(io, "\"");
                WriteText(io, line.GetValue());
                WriteText(io, "\"");
            } else {
                WriteText(io, line.GetValue());
            }
            WriteText(io, "\r\n");
        }
        writeComments(comments_[GetNumLines()]);
        WriteText(io, "\r\n");
        modified_ = false;
    });
}

// ---- KsIniFile

KsIniFile::KsIniFile() : factory_(&KsIOFactory::Default()) {}

KsIniFile::KsIniFile(const char* fileName, bool loadAll, bool create, int flags,
                     KsIOFactory& factory)
    : factory_(&factory) {
    KsCallpath("KsIniFile()", kFileClass, [&] {
        const char* name = fileName != nullptr ? fileName : "";
        KsFileName fullName(name);
        fileName_ = fullName.GetFullPath();
        if (!factory_->Exists(fileName_.GetCString())) {
            if (!create) {
                KsFileException::Generate("\"%s\" does not exist.", kFileClass, name, name);
            }
            factory_->Open(fileName_.GetCString(), IO_WRITE | IO_CREATE | IO_TRUNCATE)->Close();
        }
        file_ = factory_->Open(fileName_.GetCString(), flags);
        KsIOLockGuard lock(*file_, LOCK_READ, 0, 0);
        file_->Seek(0, 0);
        KsString header;
        while (FindNextSectionHeader()) {
            file_->ReadLine(header);
            auto section = std::make_unique<KsIniSection>(Trimmed(header.GetCString()).c_str());
            if (loadAll) {
                section->LoadSection(*file_);
            }
            sections_.Add(std::move(section));
        }
        lock.Release();
    });
}

KsIniFile::~KsIniFile() = default;

bool KsIniFile::FindNextSectionHeader() {
    return KsCallpath("FindNextSectionHeader()", kFileClass, [&] {
        if (fileName_.IsEmpty()) {
            KsException::Generate("Cannot find section without a file", kFileClass);
        }
        KsString raw;
        while (true) {
            std::int32_t position = file_->Tell();
            if (file_->ReadLine(raw) == 0) {
                return false;
            }
            if (IsSectionHeader(Trimmed(raw.GetCString()))) {
                file_->Seek(position, 0);
                return true;
            }
        }
    });
}

void KsIniFile::LoadFromFile(const KsVector<std::int32_t>& wanted) {
    if (wanted.empty()) {
        return;
    }
    // A name may stand more than once in a file: the n-th section of a name is loaded
    // from the n-th header of that name, so that each keeps its own lines.
    std::map<std::string, std::vector<std::int32_t>> byName;
    for (std::int32_t i = 0; i < GetNumSections(); ++i) {
        byName[sections_[i]->GetName()].push_back(i);
    }
    std::map<std::int32_t, bool> pending;
    for (std::int32_t index : wanted) {
        pending[index] = true;
    }
    std::map<std::string, std::size_t> seen;
    KsIOLockGuard lock(*file_, LOCK_READ, 0, 0);
    file_->Seek(0, 0);
    KsString header;
    while (!pending.empty() && FindNextSectionHeader()) {
        file_->ReadLine(header);
        std::string name = Trimmed(header.GetCString());
        std::size_t occurrence = seen[name]++;
        auto found = byName.find(name);
        if (found == byName.end() || occurrence >= found->second.size()) {
            continue;
        }
        std::int32_t index = found->second[occurrence];
        if (pending.erase(index) > 0) {
            sections_[index]->LoadSection(*file_);
        }
    }
    lock.Release();
}

KsIniSection* KsIniFile::GetSection(std::int32_t lIndex) {
    return KsCallpath("GetSection()", kFileClass, [&] {
        KsIniSection* section = sections_[lIndex];
        if (!section->IsLoaded()) {
            if (fileName_.IsEmpty()) {
                KsException::Generate("Cannot load section %ld without a file", kFileClass,
                                      static_cast<long>(lIndex));
            }
            KsVector<std::int32_t> wanted;
            wanted.push_back(lIndex);
            LoadFromFile(wanted);
        }
        return section;
    });
}

KsIniSection* KsIniFile::GetSection(const char* sSectionName) {
    return KsCallpath("GetSection()", kFileClass, [&]() -> KsIniSection* {
        if (sSectionName == nullptr || *sSectionName == '\0') {
            return nullptr;
        }
        std::int32_t index = GetSectionIndex(sSectionName, 0, false);
        if (index >= 0) {
            return GetSection(index);
        }
        return AddSection(sSectionName);
    });
}

std::int32_t KsIniFile::GetSectionIndex(const char* name, std::int32_t start, bool prefix) const {
    if (name == nullptr) {
        return -1;
    }
    std::string wanted = name[0] == '[' ? name : std::string("[") + name + "]";
    if (prefix && wanted.size() > 1 && wanted.back() == ']') {
        wanted.pop_back();
    }
    for (std::int32_t i = start < 0 ? 0 : start; i < GetNumSections(); ++i) {
        const char* candidate = sections_[i]->GetName();
        bool match = prefix ? strncasecmp(candidate, wanted.c_str(), wanted.size()) == 0
                            : strcasecmp(candidate, wanted.c_str()) == 0;
        if (match) {
            return i;
        }
    }
    return -1;
}

KsIniSection* KsIniFile::AddSection(const char* sSectionName) {
    return KsCallpath("AddSection()", kFileClass,
                      [&] { return AddSection(new KsIniSection(sSectionName)); });
}

KsIniSection* KsIniFile::AddSection(KsIniSection* pSection) {
    return KsCallpath("AddSection()", kFileClass, [&] {
        std::unique_ptr<KsIniSection> owner(pSection);
        if (pSection == nullptr) {
            KsException::Generate("null pointer: pSection", kFileClass);
        }
        if (GetSectionIndex(pSection->GetName(), 0, false) >= 0) {
            KsException::Generate("Section already exists.", kFileClass);
        }
        pSection->SetLoaded(true);
        return sections_.Add(std::move(owner));
    });
}

void KsIniFile::LoadUnLoadedSections() {
    KsCallpath("LoadUnLoadedSections()", kFileClass, [&] {
        KsVector<std::int32_t> wanted;
        for (std::int32_t i = 0; i < GetNumSections(); ++i) {
            if (!sections_[i]->IsLoaded()) {
                wanted.push_back(i);
            }
        }
        if (!wanted.empty() && fileName_.IsEmpty()) {
            KsException::Generate("Cannot load section %ld without a file", kFileClass,
                                  static_cast<long>(wanted[0]));
        }
        LoadFromFile(wanted);
    });
}

void KsIniFile::Write(bool loadUnloaded, int flags) {
    KsCallpath("Write()", kFileClass, [&] {
        if (fileName_.IsEmpty()) {
            KsException::Generate("Cannot write sections without a file", kFileClass);
        }
        if (loadUnloaded) {
            LoadUnLoadedSections();
        }
        // The new file is made beside the old one, so that it can take its place in one
        // step; the file on disk is never half written.
        KsReplacementFile fresh(*factory_, fileName_.GetCString(), kNewFileTag);
        WriteSectionsTo(fresh.GetName());

        int oldFlags = file_->GetFlags();
        KsScopeExit reopenAsBefore([&] { ReopenQuietly(oldFlags); });
        file_->Close();
        fresh.Commit();
        file_->Open(fileName_.GetCString(), flags);
        reopenAsBefore.Dismiss();
    });
}

void KsIniFile::WriteSectionsTo(const char* name) {
    std::unique_ptr<KsIOInterface> out = factory_->Open(name, IO_READ | IO_WRITE | IO_CREATE);
    for (KsIniSection* section : sections_) {
        section->Write(*out);
    }
    out->Close();
}

// Runs while an error is on its way out: that error is the one to report, so its own
// failures are dropped.
void KsIniFile::ReopenQuietly(int flags) noexcept {
    try {
        if (!file_->IsOpen()) {
            file_->Open(fileName_.GetCString(), flags);
        }
    } catch (const KsException&) {
    }
}
