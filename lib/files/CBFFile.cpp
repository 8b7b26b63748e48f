#include "files/CBFFile.h"

#include <algorithm>
#include <cstdarg>
#include <string>
#include <utility>
#include <vector>

#include "core/KsCallpath.h"
#include "core/KsScopeExit.h"
#include "files/CBFFormat.h"
#include "files/KsFieldType.h"
#include "files/KsFieldTypeLetters.h"
#include "files/KsSectionValues.h"
#include "ini/KsIniFile.h"
#include "io/KsIO.h"
#include "io/KsSyncPolicy.h"

namespace {

constexpr const char* kClass = "CBFFile";
// Bytes moved at a time when records are inserted or deleted.
constexpr std::int64_t kMoveBlock = 256 * 1024;
constexpr std::int32_t kLongestRecord = INT16_MAX;
// The longest text whose number of bits the header can state.
constexpr int kLongestText = UINT16_MAX / 8;

// Fails with "Header \"<header>\": <message>".
KS_PRINTF(2, 3) [[noreturn]] void ThrowBadHeader(const char* header, const char* format, ...) {
    KsString message;
    va_list args;
    va_start(args, format);
    message.vprintf(format, args);
    va_end(args);
    KsException::Generate("Header \"%s\": %s", kClass, header, message.GetCString());
}

bool IsFourByteType(char type) {
    return type == KS_NUMBER_FLD || type == KS_CURRENCY_FLD || type == KS_LONG_FLD ||
           type == KS_ULONG_FLD;
}

bool IsBitType(char type) {
    return type == KS_SHORT_FLD || type == KS_USHORT_FLD;
}

// Bytes of the record a field occupies.
std::int32_t BytesOf(const KsField& field) {
    if (IsFourByteType(field.GetType())) {
        return kCBFNumberBytes;
    }
    return IsBitType(field.GetType()) ? kCBFWordBytes : field.GetLength();
}

// The end of the last field: the record length of a laid-out field list.
std::int32_t ExtentOf(const KsFieldList& fields) {
    std::int32_t end = 0;
    for (const KsField* field : fields) {
        end = std::max(end, std::int32_t{field->GetByteOffset()} + BytesOf(*field));
    }
    return end;
}

// ---- Checking a layout
//
// A header is checked against what PackFields lays out, so that every header the library
// writes opens and no other can make two fields share a byte: each field that is not
// mapped (a mapped field reads its target's bytes by design) has the length of its type,
// lies inside the record, and overlaps no other field; bit fields may share a 16-bit word
// but not a bit. The first fault found is reported with the section and key to blame.

// The section of field n (from 0), as the header numbers it.
KsString SectionOf(std::int32_t n) {
    KsString name;
    name.printf("Field%d", n + 1);
    return name;
}

const char* TypeNameOf(char type) {
    if (type == KS_CURRENCY_FLD) {
        return "Currency";
    }
    const KsFieldType* descriptor = KsFieldType::Find(type);
    return descriptor != nullptr ? descriptor->GetName() : "unknown";
}

void CheckLength(const CBFField& field, std::int32_t n, const char* header) {
    std::int32_t length = field.GetLength();
    char type = field.GetType();
    KsString fits;
    if (IsFourByteType(type) || IsBitType(type)) {
        std::int32_t width = IsBitType(type) ? kCBFWordBytes : kCBFNumberBytes;
        if (length != width) {
            fits.printf("%d bytes", static_cast<int>(width));
        }
    } else if (type == KS_ALPHA_FLD && (length < 1 || length > kLongestText)) {
        fits.printf("1 to %d bytes", kLongestText);
    } else if (length < 1) {
        fits = "1 byte or more";
    }
    if (!fits.IsEmpty()) {
        ThrowBadHeader(header, "[%s] Length %d does not fit \"%s\": %s fields have %s",
                       SectionOf(n).GetCString(), static_cast<int>(length), field.GetName(),
                       TypeNameOf(type), fits.GetCString());
    }
}

// The bits of a bit field inside its word, which must hold them.
void CheckBits(const CBFField& field, std::int32_t n, const char* header) {
    std::uint32_t first = field.GetStartingBit();
    std::uint32_t bits = field.GetNumberOfBits();
    KsString name = SectionOf(n);
    const char* section = name.GetCString();
    if (bits < 1 || bits > kCBFWordBits) {
        ThrowBadHeader(header,
                       "[%s] NumberOfBits %u does not fit \"%s\": %s fields have 1 to %u bits",
                       section, bits, field.GetName(), TypeNameOf(field.GetType()), kCBFWordBits);
    }
    if (first < 1 || first > kCBFWordBits) {
        ThrowBadHeader(header,
                       "[%s] StartingBit %u does not fit \"%s\": bit fields start at bit 1 to %u "
                       "of their word",
                       section, first, field.GetName(), kCBFWordBits);
    }
    if (first - 1 + bits > kCBFWordBits) {
        ThrowBadHeader(header,
                       "[%s] StartingBit %u and NumberOfBits %u put \"%s\" past the end of its "
                       "word (bits %u to %u of %u)",
                       section, first, bits, field.GetName(), first, first - 1 + bits,
                       kCBFWordBits);
    }
}

// A stretch of the record a field holds: bytes, or for a bit field bits of its word.
struct Extent {
    std::int32_t field;
    std::int32_t first;
    std::int32_t last;
};

// The first extent that begins inside one before it (in the order of their beginnings,
// then of their fields), paired with that one; null when none does.
std::pair<const Extent*, const Extent*> FirstOverlap(std::vector<Extent>& extents) {
    std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) {
        return a.first != b.first ? a.first < b.first : a.field < b.field;
    });
    const Extent* reach = nullptr;  // the extent reaching furthest so far
    for (const Extent& extent : extents) {
        if (reach != nullptr && extent.first <= reach->last) {
            return {&extent, reach};
        }
        if (reach == nullptr || extent.last > reach->last) {
            reach = &extent;
        }
    }
    return {nullptr, nullptr};
}

const CBFField& FieldAt(const KsFieldList& fields, std::int32_t n) {
    return static_cast<const CBFField&>(*fields[n]);
}

// Bit fields of one word (all at `offset`) that share a bit.
void CheckWord(const KsFieldList& fields, std::vector<Extent> bits, std::int32_t offset,
               const char* header) {
    auto [overlapping, other] = FirstOverlap(bits);
    if (overlapping != nullptr) {
        const CBFField& field = FieldAt(fields, overlapping->field);
        ThrowBadHeader(header,
                       "[%s] StartingBit %d and NumberOfBits %d make \"%s\" share bits with "
                       "\"%s\" in the word at byte %d (bits %d to %d against %d to %d)",
                       SectionOf(overlapping->field).GetCString(), overlapping->first,
                       overlapping->last - overlapping->first + 1, field.GetName(),
                       FieldAt(fields, other->field).GetName(), offset, overlapping->first,
                       overlapping->last, other->first, other->last);
    }
}

// Fields that share bytes, and bit fields that share bits. A word of bit fields counts as
// two bytes of the first of its fields (by starting bit).
void CheckOverlaps(const KsFieldList& fields, const char* header) {
    std::vector<Extent> bytes;
    std::vector<std::pair<std::int32_t, Extent>> bitFields;  // word offset, bits
    for (std::int32_t n = 0; n < static_cast<std::int32_t>(fields.size()); ++n) {
        const CBFField& field = FieldAt(fields, n);
        std::int32_t offset = field.GetByteOffset();
        if (field.IsMapped()) {
            continue;
        }
        if (IsBitType(field.GetType())) {
            std::int32_t first = field.GetStartingBit();
            bitFields.push_back({offset, {n, first, first + field.GetNumberOfBits() - 1}});
        } else {
            bytes.push_back({n, offset, offset + BytesOf(field) - 1});
        }
    }
    std::sort(bitFields.begin(), bitFields.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < bitFields.size();) {
        std::int32_t offset = bitFields[i].first;
        std::vector<Extent> word;
        for (; i < bitFields.size() && bitFields[i].first == offset; ++i) {
            word.push_back(bitFields[i].second);
        }
        CheckWord(fields, word, offset, header);
        const Extent& top = *std::min_element(word.begin(), word.end(), [](auto& a, auto& b) {
            return a.first != b.first ? a.first < b.first : a.field < b.field;
        });
        bytes.push_back({top.field, offset, offset + kCBFWordBytes - 1});
    }
    auto [overlapping, other] = FirstOverlap(bytes);
    if (overlapping != nullptr) {
        ThrowBadHeader(header,
                       "[%s] ByteOffset %d makes \"%s\" overlap \"%s\" (bytes %d to %d against "
                       "%d to %d)",
                       SectionOf(overlapping->field).GetCString(), overlapping->first,
                       FieldAt(fields, overlapping->field).GetName(),
                       FieldAt(fields, other->field).GetName(), overlapping->first,
                       overlapping->last, other->first, other->last);
    }
}

// Whether the fields can be read and written within records of `recordLength` bytes
// without two of them sharing a bit.
void CheckFields(const KsFieldList& fields, std::int32_t recordLength, const char* header) {
    for (std::int32_t n = 0; n < static_cast<std::int32_t>(fields.size()); ++n) {
        const auto* field = dynamic_cast<const CBFField*>(fields[n]);
        if (field == nullptr) {
            ThrowBadHeader(header, "field %d is not a CBFField", n);
        }
        if (field->IsMapped()) {
            continue;
        }
        CheckLength(*field, n, header);
        if (IsBitType(field->GetType())) {
            CheckBits(*field, n, header);
        }
        std::int32_t offset = field->GetByteOffset();
        if (offset + BytesOf(*field) > recordLength) {
            ThrowBadHeader(header,
                           "[%s] ByteOffset %d and Length %d put \"%s\" outside the record of %d "
                           "bytes (bytes %d to %d)",
                           SectionOf(n).GetCString(), offset, BytesOf(*field), field->GetName(),
                           recordLength, offset, offset + BytesOf(*field) - 1);
        }
    }
    CheckOverlaps(fields, header);
}

// Fails unless `key` holds a number. Without it a field would be read with a made-up
// value: a text of no bytes, a field at offset 0, a Number without its divisor.
void RequireNumber(const KsIniSection& section, const char* key, const char* header) {
    std::string shown = KsSectionShownName(section);
    if (section.GetInt(key, 0) == section.GetInt(key, 1)) {
        return;
    }
    std::string raw = KsSectionRawValue(section, key);
    if (raw.find_first_not_of(" \t") == std::string::npos) {
        ThrowBadHeader(header, "[%s] %s is missing", shown.c_str(), key);
    }
    ThrowBadHeader(header, "[%s] %s \"%s\" is not a number", shown.c_str(), key, raw.c_str());
}

// The keys that the sections of fields that are not mapped must hold: a mapped field's
// section names only its target.
void CheckFieldKeys(KsIniFile& structure, const KsFieldList& fields, const char* header) {
    for (std::int32_t n = 0; n < static_cast<std::int32_t>(fields.size()); ++n) {
        const KsField& field = *fields[n];
        std::int32_t index = structure.GetSectionIndex(SectionOf(n).GetCString());
        if (field.IsMapped() || index < 0) {
            continue;
        }
        const KsIniSection& section = *structure.GetSection(index);
        RequireNumber(section, kKsFieldLengthKey, header);
        RequireNumber(section, kKsFieldByteOffsetKey, header);
        if (IsBitType(field.GetType())) {
            RequireNumber(section, kCBFStartingBitKey, header);
            RequireNumber(section, kCBFNumberOfBitsKey, header);
        } else if (field.GetType() == KS_NUMBER_FLD || field.GetType() == KS_CURRENCY_FLD) {
            RequireNumber(section, kCBFDivisorKey, header);
        }
    }
}

// A byte offset for `bytes` bytes that keeps the record within the longest record.
std::uint16_t CheckedOffset(std::int32_t offset, std::int32_t bytes) {
    if (offset + bytes > kLongestRecord) {
        KsException::Generate("Records of more than %d bytes are longer than a table can hold",
                              kClass, kLongestRecord);
    }
    return static_cast<std::uint16_t>(offset);
}

// Order of the layout: Numbers, bit fields, other fields, texts and bytes; within a group
// longer bit strings first, then by field number, so that equal fields keep their order.
int LayoutGroup(char type) {
    if (type == KS_NUMBER_FLD) {
        return 0;
    }
    if (IsBitType(type)) {
        return 1;
    }
    return type == KS_ALPHA_FLD || type == KS_BINARY_FLD ? 3 : 2;
}

bool LaidOutBefore(const CBFField* a, const CBFField* b) {
    int groupA = LayoutGroup(a->GetType());
    int groupB = LayoutGroup(b->GetType());
    if (groupA != groupB) {
        return groupA < groupB;
    }
    if (a->GetNumberOfBits() != b->GetNumberOfBits()) {
        return a->GetNumberOfBits() > b->GetNumberOfBits();
    }
    return a->GetFieldNumber() < b->GetFieldNumber();
}

// Gives a field its type, bits and length before the layout.
void SetupField(CBFField& field, std::int32_t i) {
    field.SetByteOffset(0);
    field.SetStartingBit(0);
    field.SetFieldNumber(static_cast<std::uint16_t>(i));
    char type = field.GetType();
    if (field.GetNumberOfBits() == 0) {
        if (field.GetDivisor() == 0) {
            field.SetDivisor(1);
        }
        if (IsFourByteType(type)) {
            field.SetNumberOfBits(32);
            field.SetType(KS_NUMBER_FLD);
        } else if (type == KS_ALPHA_FLD) {
            if (field.GetLength() > kLongestText) {
                KsException::Generate(
                    "Field %ld (\"%s\") of %d bytes is longer than the %d bytes "
                    "of a text field",
                    kClass, static_cast<long>(i), field.GetName(),
                    static_cast<int>(field.GetLength()), kLongestText);
            }
            field.SetNumberOfBits(
                static_cast<std::uint16_t>(8 * std::max<int>(field.GetLength(), 0)));
        } else if (IsBitType(type)) {
            field.SetNumberOfBits(kCBFWordBits);
        } else {
            KsException::Generate("Field type '%c' is not supported by CBFFiles", kClass, type);
        }
    } else if (IsBitType(type) && field.GetNumberOfBits() > kCBFWordBits) {
        KsException::Generate(
            "Field %ld (\"%s\") has %u bits; a Short or Unsigned Short field "
            "holds at most 16",
            kClass, static_cast<long>(i), field.GetName(),
            static_cast<unsigned>(field.GetNumberOfBits()));
    }
    if (IsFourByteType(field.GetType())) {
        field.SetLength(kCBFNumberBytes);
    } else if (IsBitType(type)) {
        field.SetLength(kCBFWordBytes);
    }
    if (field.GetLength() <= 0) {
        KsException::Generate("Field %ld (\"%s\") has no length", kClass, static_cast<long>(i),
                              field.GetName());
    }
}

// ---- Moving records inside the data file

// Where a move stopped: the bytes moved completely and the block on its way.
struct MoveState {
    std::int64_t done = 0;
    std::int64_t blockBegin = 0;
    std::int64_t blockEnd = 0;
    bool writing = false;  // the block was read and its write had begun
    std::vector<char> block;
};

// Moves bytes [begin, end) up by `shift` bytes, last block first, so that nothing is
// overwritten before it is read.
void MoveUp(KsIOInterface& file, std::int64_t begin, std::int64_t end, std::int64_t shift,
            MoveState& state) {
    for (std::int64_t b = end; b > begin;) {
        std::int64_t a = std::max(begin, b - kMoveBlock);
        state.blockBegin = a;
        state.blockEnd = b;
        state.block.resize(static_cast<std::size_t>(b - a));
        auto count = static_cast<std::int32_t>(b - a);
        file.ReadFrom(static_cast<std::uint64_t>(a), state.block.data(), count, true);
        state.writing = true;
        file.WriteTo(static_cast<std::uint64_t>(a + shift), state.block.data(), count);
        state.writing = false;
        b = a;
        state.done = end - b;
    }
}

// Moves bytes [begin, end) down by `shift` bytes, first block first.
void MoveDown(KsIOInterface& file, std::int64_t begin, std::int64_t end, std::int64_t shift,
              MoveState& state) {
    for (std::int64_t a = begin; a < end;) {
        std::int64_t b = std::min(end, a + kMoveBlock);
        state.blockBegin = a;
        state.blockEnd = b;
        state.block.resize(static_cast<std::size_t>(b - a));
        auto count = static_cast<std::int32_t>(b - a);
        file.ReadFrom(static_cast<std::uint64_t>(a), state.block.data(), count, true);
        state.writing = true;
        file.WriteTo(static_cast<std::uint64_t>(a - shift), state.block.data(), count);
        state.writing = false;
        a = b;
        state.done = a - begin;
    }
}

// Cuts the file to `size` bytes; false when it could not.
bool CutTo(KsIOInterface& file, std::int64_t size) noexcept {
    try {
        std::int64_t excess = file.GetFileSize64() - size;
        if (excess > 0) {
            file.Truncate64(excess);
        }
        return true;
    } catch (const KsException&) {
        return false;
    }
}

// Undoes an insertion at byte `start` into `end` bytes of records of `length` bytes that
// stopped as `state` says: the records already moved up go back down, the part of a block
// whose write failed is written again from the block, and the file is cut to its old
// size. Runs while the error is on its way out; a failure here leaves the table damaged.
void UndoInsert(KsIOInterface& file, std::int64_t start, std::int64_t end, std::int64_t length,
                const MoveState& state) noexcept {
    try {
        std::int64_t moved = end - state.done;  // [moved, end) now lies `length` bytes higher
        (void)start;
        if (state.writing && state.blockEnd - state.blockBegin > length) {
            file.WriteTo(static_cast<std::uint64_t>(state.blockBegin + length),
                         state.block.data() + length,
                         static_cast<std::int32_t>(state.blockEnd - state.blockBegin - length));
        }
        MoveState back;
        MoveDown(file, moved + length, end + length, length, back);
        CutTo(file, end);
    } catch (const KsException&) {
    }
}

// Undoes a deletion of the record at byte `start` (whose bytes are `removed`) from `end`
// bytes of records, stopped as `state` says: the records already moved down go back up
// and the removed record is written again.
void UndoDelete(KsIOInterface& file, std::int64_t start, std::int64_t length,
                const std::vector<char>& removed, const MoveState& state) noexcept {
    try {
        std::int64_t reached = start + length + state.done;  // [start + length, reached) moved
        if (state.writing && state.blockEnd - state.blockBegin > length) {
            file.WriteTo(static_cast<std::uint64_t>(state.blockBegin), state.block.data(),
                         static_cast<std::int32_t>(state.blockEnd - state.blockBegin - length));
        }
        MoveState back;
        MoveUp(file, start, reached - length, length, back);
        file.WriteTo(static_cast<std::uint64_t>(start), removed.data(),
                     static_cast<std::int32_t>(length));
    } catch (const KsException&) {
    }
}

}  // namespace

// ---- Construction and lifecycle

CBFFile::CBFFile(KsIOFactory& factory) : KsFile(factory) {}

CBFFile::~CBFFile() {
    NotifyDestroy();
    // Closed while the records can still be read: the close may build index files. A
    // failure cannot be reported here.
    CloseQuietly();
    dataFile_.reset();
}

void CBFFile::Close() {
    KsCallpath("Close()", kClass, [&] {
        KsFile::Close();
        std::unique_ptr<KsIOInterface> file = std::move(dataFile_);
        headerFieldCount_ = 0;
        recordLength_ = 0;
        currentRecordNumber_ = 0;
        recordCount_ = 0;
        positionedAfter_ = -1;
        userBitFields_.clear();
        if (file) {
            file->Close();
        }
    });
}

void CBFFile::ReplaceDataFile(const char* replacement) {
    KsCallpath("ReplaceDataFile()", kClass, replacement, [&] {
        std::unique_ptr<KsIOInterface> file =
            GetFactory().Open(replacement, DataFile().GetFlags() & (IO_READ | IO_WRITE));
        if (auto* buffered = dynamic_cast<KsIO*>(file.get())) {
            buffered->SetBufferSize(kCBFBufferSize);
        }
        std::int64_t size = file->GetFileSize64();
        if (size % recordLength_ != 0 || size / recordLength_ > INT32_MAX) {
            KsException::Generate("\"%s\" does not hold whole records of %d bytes", kClass,
                                  replacement, static_cast<int>(recordLength_));
        }
        // Whoever waits for the table's lock must find the new file locked as the old one.
        for (std::uint16_t i = 0; i < GetWriteLockCount(); ++i) {
            file->Lock(LOCK_WRITE, 0, 0);
        }
        for (std::uint16_t i = 0; i < GetReadLockCount(); ++i) {
            file->Lock(LOCK_READ, 0, 0);
        }
        GetFactory().Replace(GetFileName(), replacement);
        // The old file goes with `file`; what its buffer held is in the new one already.
        dataFile_.swap(file);
        recordCount_ = static_cast<std::int32_t>(size / recordLength_);
        currentRecordNumber_ = 0;
        positionedAfter_ = -1;
    });
    Refresh();
}

void CBFFile::CloseQuietly() noexcept {
    try {
        Close();
    } catch (const KsException&) {
        // The error that made the open fail is the one to report.
    }
}

void CBFFile::Open(const char* name, int flags, const char* alternateHeader, KsIniFile* ini,
                   const char* password) {
    KsCallpath("Open()", kClass, name, [&] {
        OpenSetup(name);
        KsScopeExit closeAgain([&] { CloseQuietly(); });
        OpenStructure(flags, alternateHeader, ini, password);
        dataFile_ = GetFactory().Open(GetFileName(), flags);
        if (auto* buffered = dynamic_cast<KsIO*>(dataFile_.get())) {
            buffered->SetBufferSize(kCBFBufferSize);
        }
        CountRecords();
        currentRecordNumber_ = 0;
        positionedAfter_ = -1;
        OpenFinish();
        closeAgain.Dismiss();
    });
}

void CBFFile::CountRecords() {
    std::int64_t count = DataFile().GetFileSize64() / recordLength_;
    if (count > INT32_MAX) {
        KsException::Generate("\"%s\" holds more records than a table can count", kClass,
                              GetFileName());
    }
    // The data file's position stays valid: it is a byte offset, whatever the count.
    recordCount_ = static_cast<std::int32_t>(count);
    if (currentRecordNumber_ > recordCount_) {
        currentRecordNumber_ = 0;
    }
}

void CBFFile::Create(const char* name, FieldList& fields, std::uint16_t primaryKeyFieldCount,
                     bool buildIndexes) {
    KsCallpath("Create()", kClass, name, [&] {
        KsString header = CompanionName(name, kKsStructureExtension);
        KsString data = CompanionName(name, kCBFDataExtension);
        KsIOFactory& factory = GetFactory();
        if (factory.Exists(header.GetCString())) {
            KsFileException::Generate("Header file \"%s\" already exists", kClass,
                                      header.GetCString(), header.GetCString());
        }
        // Checked before anything is written, so that a refusal leaves no header behind. An
        // empty data file without a header is what a create cut short by a power failure
        // leaves: it holds nothing, and is taken over.
        if (factory.Exists(data.GetCString()) &&
            factory.Open(data.GetCString(), IO_READ)->GetFileSize64() != 0) {
            KsFileException::Generate("Data file \"%s\" already exists", kClass, data.GetCString(),
                                      data.GetCString());
        }
        if (fields.empty()) {
            KsException::Generate("Files must have at least one field", kClass);
        }
        std::int32_t recordLength = ExtentOf(fields);
        CheckFields(fields, recordLength, header.GetCString());
        KsScopeExit removeData([&] {
            try {
                factory.Delete(data.GetCString());
                DeleteIndexesFor(data.GetCString(), static_cast<std::int32_t>(fields.size()));
            } catch (const KsException&) {
                // The error on its way out is the one to report.
            }
        });
        // The data file and the index files first, the header last: until the header is in
        // place, in one rename, there is no table.
        factory.Open(data.GetCString(), IO_WRITE | IO_CREATE)->Close();
        if (KsSyncPolicy::IsOn()) {
            KsFileName place(data.GetCString());
            KsString folder;
            folder.printf("%s%s", place.GetDrive(), place.GetDirectory());
            factory.SyncFolder(folder.IsEmpty() ? "." : folder.GetCString());
        }
        if (buildIndexes) {
            BuildEmptyIndexesFor(fields, data.GetCString());
        }
        ReplaceStructureFile(header.GetCString(), [&](KsIniFile& structure) {
            WriteStructureTo(structure, fields, data.GetCString(), primaryKeyFieldCount);
            KsIniSection& info = *structure.GetSection(kKsFileInfoSection);
            info.SetInt(kCBFNumberOfFieldsKey, static_cast<std::int32_t>(fields.size()));
            info.SetInt(kCBFRecordLengthKey, recordLength);
        });
        removeData.Dismiss();
    });
}

// ---- Structure

void CBFFile::ReadStructure(KsIniFile* ini) {
    KsCallpath("ReadStructure()", kClass, [&] {
        WithStructureFile(ini, GetFileName(), [&](KsIniFile& structure) {
            KsFile::ReadStructure(&structure);
            KsIniSection& info = *structure.GetSection(kKsFileInfoSection);
            const char* header =
                *structure.GetFileName() != '\0' ? structure.GetFileName() : GetFileName();
            CheckFieldKeys(structure, GetFields(), header);
            ReadRecordLayout(info, header);
            ReadUserBitFields(structure, header);
            std::string title = info.GetString(kCBFFileTitleKey, "");
            if (!title.empty()) {
                SetTitle(title.c_str());
            }
        });
    });
}

void CBFFile::ReadRecordLayout(KsIniSection& info, const char* header) {
    std::int32_t length = info.GetInt(kCBFRecordLengthKey, 0);
    if (length <= 0 || length > kLongestRecord) {
        ThrowBadHeader(header, "RecordLength \"%s\" is not a record length of 1 to %d bytes",
                       KsSectionRawValue(info, kCBFRecordLengthKey), kLongestRecord);
    }
    recordLength_ = static_cast<std::int16_t>(length);
    if (info.FindKey(kCBFNumberOfFieldsKey) >= 0) {
        std::int32_t count = info.GetInt(kCBFNumberOfFieldsKey, -1);
        if (count != GetFieldCount()) {
            ThrowBadHeader(header, "NumberOfFields is %s, but %d field sections were found",
                           KsSectionRawValue(info, kCBFNumberOfFieldsKey), GetFieldCount());
        }
    }
    headerFieldCount_ = static_cast<std::uint16_t>(GetFieldCount());
    CheckFields(GetFields(), recordLength_, header);
}

void CBFFile::ReadUserBitFields(KsIniFile& structure, const char* header) {
    KsCallpath("ReadUserBitFields()", kClass, [&] {
        KsIniSection& info = *structure.GetSection(kKsFileInfoSection);
        userBitFields_.clear();
        std::int32_t bitsInRecord = 8 * std::int32_t{recordLength_};
        std::int32_t count =
            KsSectionRangedInt(info, kCBFNumberOfUserBitFieldsKey, 0, 0, bitsInRecord, kClass);
        for (std::int32_t i = 0; i < count; ++i) {
            KsString name;
            name.printf(kCBFUserBitFieldSection, i);
            std::int32_t index = structure.GetSectionIndex(name.GetCString());
            if (index < 0) {
                ThrowBadHeader(header, "section %s is missing", name.GetCString());
            }
            KsIniSection* section = structure.GetSection(index);
            std::int32_t bits =
                KsSectionRangedInt(*section, kCBFNumberOfBitsKey, 0, 1, kCBFWordBits, kClass);
            std::int32_t start =
                KsSectionRangedInt(*section, kCBFStartingBitKey, 0, 1, bitsInRecord, kClass);
            CBFBits position(static_cast<std::uint32_t>(start - 1),
                             static_cast<std::uint32_t>(bits));
            if (start - 1 + bits > bitsInRecord) {
                ThrowBadHeader(header, "%s does not lie inside the record", name.GetCString());
            }
            userBitFields_.push_back(position);
        }
    });
}

void CBFFile::WriteStructure(KsIniFile* ini, const FieldList* fields) {
    KsCallpath("WriteStructure()", kClass, [&] {
        const FieldList& list = fields != nullptr ? *fields : GetFields();
        std::int32_t recordLength = fields != nullptr ? ExtentOf(*fields) : recordLength_;
        auto write = [&](KsIniFile& structure) {
            WriteStructureTo(structure, list, GetFileName(), GetPrimaryKeyFieldCount());
            KsIniSection& info = *structure.GetSection(kKsFileInfoSection);
            info.SetInt(kCBFNumberOfFieldsKey, static_cast<std::int32_t>(list.size()));
            info.SetInt(kCBFRecordLengthKey, recordLength);
            WriteUserBitFields(structure);
        };
        if (ini == nullptr) {
            ReplaceStructureFile(CompanionName(GetFileName(), kKsStructureExtension).GetCString(),
                                 write);
            return;
        }
        write(*ini);
        if (*ini->GetFileName() != '\0') {
            ini->Write();
        }
    });
}

void CBFFile::WriteUserBitFields(KsIniFile& structure) const {
    KsCallpath("WriteUserBitFields()", kClass, [&] {
        KsIniSection& info = *structure.GetSection(kKsFileInfoSection);
        if (userBitFields_.empty()) {
            info.SetString(kCBFNumberOfUserBitFieldsKey, "");
        } else {
            info.SetInt(kCBFNumberOfUserBitFieldsKey,
                        static_cast<std::int32_t>(userBitFields_.size()));
        }
        for (std::int32_t i = 0; i < static_cast<std::int32_t>(userBitFields_.size()); ++i) {
            KsString name;
            name.printf(kCBFUserBitFieldSection, i);
            KsIniSection& section = *structure.GetSection(name.GetCString());
            section.SetInt(kCBFNumberOfBitsKey,
                           static_cast<std::int32_t>(userBitFields_[i].GetBitCount()));
            section.SetInt(kCBFStartingBitKey,
                           static_cast<std::int32_t>(userBitFields_[i].GetBitOffset() + 1));
        }
    });
}

// ---- Layout

void CBFFile::PackFields(FieldList& fields) {
    PackFields(nullptr, fields);
}

void CBFFile::PackFields(KsVector<CBFBits>* userBitFields, FieldList& fields) {
    KsCallpath("PackFields()", kClass, [&] {
        if (fields.empty()) {
            KsException::Generate("Files must have at least one field", kClass);
        }
        KsVector<CBFField*> order;
        KsCallpath("SetupFieldArray()", kClass, [&] {
            for (std::int32_t i = 0; i < static_cast<std::int32_t>(fields.size()); ++i) {
                auto* field = dynamic_cast<CBFField*>(fields[i]);
                if (field == nullptr) {
                    KsException::Generate("Field %ld is not a CBFField.", kClass,
                                          static_cast<long>(i));
                }
                SetupField(*field, i);
                order.push_back(field);
            }
        });
        std::sort(order.begin(), order.end(), LaidOutBefore);
        std::int32_t offset = 0;
        std::size_t next = 0;
        for (; next < order.size() &&
               order[static_cast<std::int32_t>(next)]->GetType() == KS_NUMBER_FLD;
             ++next) {
            order[static_cast<std::int32_t>(next)]->SetByteOffset(
                CheckedOffset(offset, kCBFNumberBytes));
            offset += kCBFNumberBytes;
        }
        KsVector<CBFField*> run;
        for (; next < order.size() && IsBitType(order[static_cast<std::int32_t>(next)]->GetType());
             ++next) {
            run.push_back(order[static_cast<std::int32_t>(next)]);
        }
        offset += PackShortFields(offset, userBitFields, run);
        for (; next < order.size(); ++next) {
            CBFField* field = order[static_cast<std::int32_t>(next)];
            field->SetByteOffset(CheckedOffset(offset, field->GetLength()));
            offset += field->GetLength();
        }
    });
}

std::int32_t CBFFile::PackShortFields(std::int32_t startOffset, KsVector<CBFBits>* userBitFields,
                                      const KsVector<CBFField*>& run) {
    return KsCallpath("PackShortFields()", kClass, [&] {
        std::size_t userCount = userBitFields != nullptr ? userBitFields->size() : 0;
        std::vector<std::uint32_t> free(run.size() + userCount, kCBFWordBits);
        auto firstFit = [&](std::uint32_t bits) {
            std::size_t j = 0;
            while (j < free.size() && free[j] < bits) {
                ++j;
            }
            return j;
        };
        for (CBFField* field : run) {
            std::size_t j = firstFit(field->GetNumberOfBits());
            field->SetByteOffset(
                CheckedOffset(startOffset + 2 * static_cast<std::int32_t>(j), kCBFWordBytes));
            field->SetStartingBit(static_cast<std::uint16_t>(kCBFWordBits - free[j] + 1));
            field->SetLength(kCBFWordBytes);
            free[j] -= field->GetNumberOfBits();
        }
        for (std::size_t i = 0; i < userCount; ++i) {
            CBFBits& bits = (*userBitFields)[static_cast<std::int32_t>(i)];
            std::size_t j = firstFit(std::max<std::uint32_t>(bits.GetBitCount(), 1));
            std::uint32_t used = j < free.size() ? kCBFWordBits - free[j] : 0;
            bits.SetPosition(static_cast<std::uint32_t>(8 * startOffset) +
                                 kCBFWordBits * static_cast<std::uint32_t>(j) + used,
                             bits.GetBitCount());
            free[j] -= bits.GetBitCount();
        }
        std::int32_t words = 0;
        while (static_cast<std::size_t>(words) < free.size() &&
               free[static_cast<std::size_t>(words)] < kCBFWordBits) {
            ++words;
        }
        return 2 * words;
    });
}

// ---- Records

KsIOInterface& CBFFile::DataFile() const {
    if (!dataFile_) {
        KsException::Generate("The table is not open", kClass);
    }
    return *dataFile_;
}

std::int64_t CBFFile::RecordOffset(std::int32_t n) const {
    return std::int64_t{n - 1} * recordLength_;
}

void CBFFile::CheckRecordNumber(std::int32_t n, std::int32_t last) const {
    if (n < 1 || n > last) {
        KsException::Generate("Record %d is not in the range [1, %d] of \"%s\"", kClass, n, last,
                              GetFileName());
    }
}

void CBFFile::CheckRecordLength(const KsFileRecord& record) const {
    if (record.GetRecordLength() != recordLength_) {
        KsException::Generate("A record of %d bytes does not fit \"%s\", whose records have %d",
                              kClass, record.GetRecordLength(), GetFileName(),
                              static_cast<int>(recordLength_));
    }
}

void CBFFile::SeekRecord(std::int32_t n) {
    if (positionedAfter_ != n - 1) {
        positionedAfter_ = -1;
        DataFile().Seek64Absolute(RecordOffset(n));
    }
}

void CBFFile::ReadRecordAt(std::int32_t n, KsFileRecord& record) {
    CheckRecordLength(record);
    SeekRecord(n);
    positionedAfter_ = -1;
    record.ReadRecord(DataFile());
    positionedAfter_ = n;
}

void CBFFile::WriteRecordAt(std::int32_t n, const KsFileRecord& record) {
    CheckRecordLength(record);
    SeekRecord(n);
    positionedAfter_ = -1;
    record.WriteRecord(DataFile());
    positionedAfter_ = n;
}

void CBFFile::GotoRecord(std::int32_t n, KsFileRecord* record) {
    KsCallpath("GotoRecord()", kClass, [&] {
        KsFileRecord* target = record != nullptr ? record : GetCurrentRecord();
        if (target == nullptr) {
            KsException::Generate("The table is not open", kClass);
        }
        CheckRecordNumber(n, recordCount_);
        ReadRecordAt(n, *target);
        currentRecordNumber_ = n;
    });
}

std::int32_t CBFFile::DataAppend(KsFileRecord& record) {
    return KsCallpath("DataAppend()", kClass, [&] {
        if (recordCount_ == INT32_MAX) {
            KsException::Generate("\"%s\" cannot hold more records", kClass, GetFileName());
        }
        std::int32_t n = recordCount_ + 1;
        KsIOInterface& file = DataFile();
        KsScopeExit cutBack([&] {
            positionedAfter_ = -1;
            CutTo(file, RecordOffset(n));
        });
        WriteRecordAt(n, record);
        cutBack.Dismiss();
        recordCount_ = n;
        currentRecordNumber_ = n;
        return n;
    });
}

std::int32_t CBFFile::DataModify(std::int32_t n, KsFileRecord& record, KsFileRecord* oldRecord) {
    return KsCallpath("DataModify()", kClass, [&] {
        CheckRecordNumber(n, recordCount_);
        CheckRecordLength(record);
        if (oldRecord != nullptr) {
            ReadRecordAt(n, *oldRecord);
        }
        WriteRecordAt(n, record);
        return n;
    });
}

void CBFFile::ParkDataFile(std::int64_t end) {
    // Positioned transfers then miss the buffer and reach the file at once, so a failure is
    // seen where it happens.
    positionedAfter_ = -1;
    DataFile().Flush();
    DataFile().Seek64Absolute(end);
}

std::int32_t CBFFile::DataInsert(std::int32_t n, KsFileRecord& record) {
    return KsCallpath("DataInsert()", kClass, [&] {
        CheckRecordNumber(n, recordCount_ + 1);
        CheckRecordLength(record);
        if (n == recordCount_ + 1) {
            DataAppend(record);
        } else {
            InsertInPlace(n, record);
            ++recordCount_;
        }
        GotoRecord(n);
        return n;
    });
}

void CBFFile::InsertInPlace(std::int32_t n, const KsFileRecord& record) {
    KsIOInterface& file = DataFile();
    std::int64_t start = RecordOffset(n);
    std::int64_t end = RecordOffset(recordCount_ + 1);
    std::int64_t length = recordLength_;
    std::vector<char> bytes(static_cast<std::size_t>(length));
    record.Store(bytes.data());
    ParkDataFile(end);
    {
        // Growing is the one write that needs new space; a failure cuts the file back.
        KsScopeExit cutBack([&] { CutTo(file, end); });
        file.WriteTo(static_cast<std::uint64_t>(end), bytes.data(), recordLength_);
        cutBack.Dismiss();
    }
    MoveState state;
    KsScopeExit undo([&] { UndoInsert(file, start, end, length, state); });
    MoveUp(file, start, end, length, state);
    file.WriteTo(static_cast<std::uint64_t>(start), bytes.data(), recordLength_);
    // Moved bytes still in the buffer reach the file while a failure can still be undone.
    file.Flush();
    undo.Dismiss();
}

void CBFFile::DataDelete(std::int32_t n, KsFileRecord* oldRecord) {
    KsCallpath("DataDelete()", kClass, [&] {
        CheckRecordNumber(n, recordCount_);
        KsIOInterface& file = DataFile();
        std::int64_t start = RecordOffset(n);
        std::int64_t end = RecordOffset(recordCount_ + 1);
        std::int64_t length = recordLength_;
        ParkDataFile(end);
        std::vector<char> removed(static_cast<std::size_t>(length));
        file.ReadFrom(static_cast<std::uint64_t>(start), removed.data(), recordLength_, true);
        if (oldRecord != nullptr) {
            CheckRecordLength(*oldRecord);
            oldRecord->Load(removed.data());
        }
        MoveState state;
        KsScopeExit undo([&] { UndoDelete(file, start, length, removed, state); });
        MoveDown(file, start + length, end, length, state);
        file.Truncate64(length + GetExtraBytes());
        undo.Dismiss();
        --recordCount_;
    });
}

void CBFFile::Empty() {
    KsCallpath("Empty()", kClass, [&] {
        // The data file stays open, so that its locks are kept.
        KeepRecords(0);
    });
}

void CBFFile::KeepRecords(std::int32_t count) {
    KsCallpath("KeepRecords()", kClass, [&] {
        if (count < 0 || count > recordCount_) {
            KsException::Generate("Cannot keep %d of the %d records of \"%s\"", kClass, count,
                                  recordCount_, GetFileName());
        }
        positionedAfter_ = -1;
        std::int64_t excess = DataFile().GetFileSize64() - RecordOffset(count + 1);
        if (excess > 0) {
            DataFile().Truncate64(excess);
        }
        recordCount_ = count;
        if (currentRecordNumber_ > count) {
            currentRecordNumber_ = 0;
        }
    });
}

std::int32_t CBFFile::StoredBytes(std::int32_t first, std::int32_t count, std::int32_t last) const {
    CheckRecordNumber(first, last);
    std::int64_t bytes = std::int64_t{count} * recordLength_;
    if (count < 0 || bytes > INT32_MAX || std::int64_t{first} + count - 1 > last) {
        KsException::Generate("Records %d to %d are not in the range [1, %d] of \"%s\"", kClass,
                              first, first + count - 1, last, GetFileName());
    }
    return static_cast<std::int32_t>(bytes);
}

void CBFFile::ReadStoredRecords(std::int32_t first, std::int32_t count, char* to) {
    KsCallpath("ReadStoredRecords()", kClass, [&] {
        std::int32_t bytes = StoredBytes(first, count, recordCount_);
        ParkDataFile(RecordOffset(first));
        DataFile().ReadFrom(static_cast<std::uint64_t>(RecordOffset(first)), to, bytes, true);
    });
}

void CBFFile::WriteStoredRecords(std::int32_t first, std::int32_t count, const char* from) {
    KsCallpath("WriteStoredRecords()", kClass, [&] {
        CheckRecordNumber(first, recordCount_ + 1);
        std::int32_t bytes = StoredBytes(first, count, INT32_MAX);
        ParkDataFile(RecordOffset(first));
        DataFile().WriteTo(static_cast<std::uint64_t>(RecordOffset(first)), from, bytes);
        recordCount_ = std::max(recordCount_, first + count - 1);
    });
}

std::int64_t CBFFile::GetExtraBytes() const {
    return KsCallpath("GetExtraBytes()", kClass,
                      [&] { return DataFile().GetFileSize64() - RecordOffset(recordCount_ + 1); });
}

void CBFFile::Sync() {
    KsCallpath("Sync()", kClass, [&] { DataFile().Sync(); });
}

void CBFFile::Flush() {
    KsCallpath("Flush()", kClass, [&] { DataFile().Flush(); });
}

// ---- Locks

namespace {

int LockType(int flags) {
    return (flags & LOCK_WRITE) != 0 ? LOCK_WRITE : LOCK_READ;
}

}  // namespace

void CBFFile::Lock(int flags) {
    KsCallpath("Lock()", kClass, [&] {
        DataFile().Lock(LockType(flags), 0, 0);
        CountLock(flags);
        Resynchronise();
    });
}

// Under a new lock, what other processes wrote before it counts: the bytes read ahead are
// forgotten and the records counted again.
void CBFFile::Resynchronise() {
    DataFile().DiscardReadAhead();
    CountRecords();
}

bool CBFFile::TryLock(int flags) {
    return KsCallpath("TryLock()", kClass, [&] {
        bool granted = DataFile().TryLock(LockType(flags), 0, 0);
        if (granted) {
            CountLock(flags);
            Resynchronise();
        }
        return granted;
    });
}

bool CBFFile::Unlock(int flags) {
    return KsCallpath("Unlock()", kClass, [&] {
        // What this process wrote under the lock reaches the file before others may look.
        DataFile().Flush();
        bool released = DataFile().UnLock(LockType(flags), 0, 0);
        if (released != CountUnlock(flags)) {
            KsException::Generate("KsIO and KsFile lock counts do not match", kClass);
        }
        return released;
    });
}

// ---- The rest of the table interface

void CBFFile::Read(KsInputStreamInterface&) {
    KsNotImplementedError::Generate("CBFFile is not streamable", kClass);
}

void CBFFile::Write(KsOutputStreamInterface&) {
    KsNotImplementedError::Generate("CBFFile is not streamable", kClass);
}

std::unique_ptr<KsField> CBFFile::GetNewField() const {
    return std::make_unique<CBFField>();
}

std::unique_ptr<CBFField> CBFFile::GetNewField(const KsField& field) const {
    return KsCallpath("GetNewField()", kClass, [&] { return std::make_unique<CBFField>(field); });
}

std::unique_ptr<KsFileRecord> CBFFile::GetNewRecord() {
    return std::make_unique<CBFRec>(GetFields(), recordLength_, userBitFields_);
}

const KsFileType& CBFFile::GetFileType() const {
    return CBFFileType::Instance();
}

void CBFFile::GetUserBitFields(KsVector<CBFBits>& out) const {
    out = userBitFields_;
}

std::int32_t CBFFile::GetFormatLevel() const {
    return kCBFFormatLevel;
}

// ---- CBFFileType

const CBFFileType& CBFFileType::Instance() {
    static const CBFFileType type;
    return type;
}

std::unique_ptr<KsFileType> CBFFileType::Clone() const {
    return std::make_unique<CBFFileType>();
}

void CBFFileType::GetSupportedFieldTypes(KsVector<const KsFieldType*>& types) const {
    for (char letter : {KS_ALPHA_FLD, KS_BINARY_FLD, KS_LONG_FLD, KS_NUMBER_FLD, KS_SHORT_FLD,
                        KS_USHORT_FLD, KS_ULONG_FLD}) {
        types.push_back(KsFieldType::Find(letter));
    }
}

const char* CBFFileType::GetTypeName() const {
    return kCBFTypeName;
}

const char* CBFFileType::GetDataFileExtension() const {
    return kCBFDataExtension;
}

std::unique_ptr<KsFile> CBFFileType::NewFile(KsIOFactory& factory) const {
    return std::make_unique<CBFFile>(factory);
}

std::unique_ptr<KsFile> CBFFileType::ReadFile(KsInputStreamInterface&, KsIOFactory&) const {
    KsNotImplementedError::Generate("CBFFile is not streamable", "CBFFile");
}
