#include "index/KsSortFileWrapper.h"

#include <filesystem>

#include "core/KsCallpath.h"
#include "core/KsException.h"
#include "core/KsScopeExit.h"
#include "files/KsFile.h"
#include "files/KsFileRecord.h"
#include "index/KsRecordKey.h"
#include "index/KsRecordKeyDescending.h"
#include "io/KsIO.h"
#include "io/KsSyncPolicy.h"
#include "platform/KsPosixFile.h"
#include "progress/KsProgressInterface.h"

namespace {

constexpr const char* kClass = "KsSortFileWrapper";
constexpr std::int32_t kReplacementBufferSize = 256000;
// What the sort needs beside its heaps and run files: the new data file's buffer and the
// table's own.
constexpr std::uint64_t kTableOverhead = kReplacementBufferSize + 64000;

std::vector<KsSortField> Ascending(const KsVector<std::uint16_t>& numbers) {
    std::vector<KsSortField> fields;
    for (std::uint16_t number : numbers) {
        fields.push_back(KsSortField{number, false});
    }
    return fields;
}

}  // namespace

KsSortFileWrapper::KsSortFileWrapper(KsFile& file, const KsVector<std::uint16_t>& fieldNumbers)
    : KsSortFileWrapper(file, Ascending(fieldNumbers)) {}

KsSortFileWrapper::KsSortFileWrapper(KsFile& file, const std::vector<KsSortField>& fields)
    : file_(file) {
    KsCallpath("KsSortFileWrapper()", kClass, [&] {
        if (file.GetCurrentRecord() == nullptr) {
            KsException::Generate("Cannot sort a table that is not open", kClass);
        }
        record_ = file.GetNewRecord();
        if (record_->GetRecordLength() <= 0) {
            KsException::Generate("Records need to have a length; length of zero is illegal",
                                  kClass);
        }
        imageLength_ = static_cast<std::uint32_t>(record_->GetRecordLength());
        BuildKeys(fields);
    });
}

KsSortFileWrapper::~KsSortFileWrapper() {
    DiscardReplacement();
}

void KsSortFileWrapper::BuildKeys(const std::vector<KsSortField>& fields) {
    if (fields.empty()) {
        KsException::Generate("A key needs at least one field", kClass);
    }
    std::vector<bool> descending;
    for (const KsSortField& field : fields) {
        if (field.number >= file_.GetFieldCount()) {
            KsException::Generate("Field %u is not a field of \"%s\", which has %d fields", kClass,
                                  static_cast<unsigned>(field.number), file_.GetFileName(),
                                  static_cast<int>(file_.GetFieldCount()));
        }
        fieldNumbers_.push_back(field.number);
        descending.push_back(field.descending);
    }
    // Raises for a field type that forms no key.
    key_ = KsRecordKeyDescending::Extract(*record_, fieldNumbers_, descending);
    keyLength_ = key_->GetComparableKeyLength();
}

bool KsSortFileWrapper::IsAtEnd() {
    return recordNumber_ >= file_.GetNumRecords();
}

std::uint32_t KsSortFileWrapper::GetRecordCount() {
    return static_cast<std::uint32_t>(file_.GetNumRecords());
}

void KsSortFileWrapper::GetNextRecord(void* buffer) {
    KsCallpath("GetNextRecord()", kClass, [&] {
        ++recordNumber_;
        file_.GotoRecord(recordNumber_, record_.get());
        auto* out = static_cast<char*>(buffer);
        key_->SetValue(*record_, fieldNumbers_);
        key_->GetComparableKey(out);
        record_->Store(out + keyLength_);
    });
}

void KsSortFileWrapper::OpenReplacement() {
    KsIOFactory& factory = file_.GetFactory();
    replacementFile_ =
        std::make_unique<KsReplacementFile>(factory, file_.GetFileName(), KsSort::kTempPrefix);
    replacement_ = factory.Open(replacementFile_->GetName(), IO_READ | IO_WRITE | IO_TRUNCATE);
    if (auto* buffered = dynamic_cast<KsIO*>(replacement_.get())) {
        buffered->SetBufferSize(kReplacementBufferSize);
    }
}

void KsSortFileWrapper::PutNextRecord(std::uint32_t length, const void* record) {
    KsCallpath("PutNextRecord()", kClass, [&] {
        if (length != GetRecordLength()) {
            KsException::Generate(
                "A record of %u bytes cannot be put into \"%s\", whose sort "
                "records have %u bytes",
                kClass, length, file_.GetFileName(), GetRecordLength());
        }
        if (!replacement_) {
            OpenReplacement();
        }
        record_->Load(static_cast<const char*>(record) + keyLength_);
        record_->WriteRecord(*replacement_);
        ++written_;
    });
}

void KsSortFileWrapper::Finish() {
    KsCallpath("Finish()", kClass, [&] {
        recordNumber_ = 0;
        if (replacement_) {
            if (KsSyncPolicy::IsOn()) {
                // On the device before it takes the data file's place.
                replacement_->Sync();
            }
            replacement_->Close();
            finished_ = true;
        }
    });
}

void KsSortFileWrapper::Commit() {
    KsCallpath("Commit()", kClass, [&] {
        if (!finished_ || written_ != file_.GetNumRecords()) {
            KsException::Generate("The sorted copy of \"%s\" holds %lld of its %d records", kClass,
                                  file_.GetFileName(), static_cast<long long>(written_),
                                  static_cast<int>(file_.GetNumRecords()));
        }
        // The table locks its new data file as it locked the old one: the owner's lock,
        // which would stand in the way, goes first.
        replacementFile_->Release();
        try {
            file_.ReplaceDataFile(replacementFile_->GetName());
        } catch (...) {
            DeleteReplacementQuietly();
            throw;
        }
        replacementFile_.reset();
        replacement_.reset();
        if (KsSyncPolicy::IsOn()) {
            std::filesystem::path folder = std::filesystem::path(file_.GetFileName()).parent_path();
            file_.GetFactory().SyncFolder(folder.empty() ? "." : folder.c_str());
        }
    });
}

void KsSortFileWrapper::DiscardReplacement() noexcept {
    replacement_.reset();
    // Deletes the file unless it was put in place (a failure leaves it, unlocked, for the
    // next recovery of the table).
    replacementFile_.reset();
}

void KsSortFileWrapper::DeleteReplacementQuietly() noexcept {
    replacement_.reset();
    try {
        file_.GetFactory().Delete(replacementFile_->GetName());
    } catch (const KsException&) {
        // The error on its way out is the one to report.
    }
    replacementFile_.reset();
}

void KsSortTable(KsFile& file, const std::vector<KsSortField>& fields,
                 KsProgressInterface& progress, const KsTableSortSettings& settings) {
    KsSortFileWrapper wrapper(file, fields);
    KsSortCKey criterion(wrapper.GetKeyLength());
    std::uint64_t memory =
        settings.memoryBytes > kTableOverhead ? settings.memoryBytes - kTableOverhead : 0;
    KsSort::Limits limits =
        KsSort::LimitsFor(memory, wrapper.GetRecordLength(), settings.fileCount);
    KsSort sort(criterion, settings.tempDirectory, settings.fileCount, limits.nodesInMemory,
                limits.cacheSize, file.GetFactory());
    SetDetailf(progress, 64, "File \"%s\"", file.GetFileName());
    if (settings.lockTable) {
        file.Lock(LOCK_WRITE);
    }
    KsScopeExit unlock([&] {
        try {
            if (settings.lockTable) {
                file.Unlock(LOCK_WRITE);
            }
        } catch (const KsException&) {
            // The failure that got us here is the one to report.
        }
    });
    if (file.GetNumRecords() > 0) {
        // Killed once the index files are gone, the next open for writing builds them.
        KsFile::ChangeScope change = file.BeginChange(
            -1, settings.tempDirectory != nullptr ? settings.tempDirectory
                                                  : KsPosix::TemporaryDirectory().c_str());
        // Index files describe the old order: they go before the records move, so that no
        // stop between the two can leave an index that reads back whole and is wrong.
        file.DeleteIndexes();
        sort.Sort(wrapper, wrapper, progress);
        wrapper.Commit();
    }
    unlock.Dismiss();
    if (settings.lockTable) {
        file.Unlock(LOCK_WRITE);
    }
}
