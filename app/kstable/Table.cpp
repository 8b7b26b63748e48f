#include "Table.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "CommandLine.h"
#include "Interrupt.h"
#include "files/KsTableLeftovers.h"
#include "io/KsReplacementFile.h"
#include "txn/KsFileTransactionLog.h"

namespace {

bool EndsWith(const std::string& text, const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return text.size() > length && text.compare(text.size() - length, length, suffix) == 0;
}

}  // namespace

TableFiles TableFilesOf(const std::string& given) {
    std::string base = given;
    for (const char* extension : {".cbf", ".kss"}) {
        if (EndsWith(base, extension) && base[base.size() - std::strlen(extension) - 1] != '/') {
            base.resize(base.size() - std::strlen(extension));
        }
    }
    return {base + ".cbf", base + ".kss"};
}

void RefuseFolder(const std::string& name) {
    struct stat status {};
    if (stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        throw MissingFileError("\"" + name + "\" is a folder, not a file");
    }
}

std::string LogFileOf(const TableFiles& files) {
    return files.data.substr(0, files.data.size() - 4) + ".klg";
}

std::vector<std::string> AbandonedLeftovers(const TableFiles& files) {
    const KsTableLeftovers::Found found = KsTableLeftovers::Scan(files.data.c_str());
    std::vector<std::string> lines;
    for (const std::string& name : found.inverseFiles) {
        std::unique_ptr<KsIOInterface> file =
            KsIOFactory::Default().Open(name.c_str(), IO_READ | IO_WRITE);
        KsIOLockGuard lock(*file, LOCK_WRITE, 0, 0, KsIOLockGuard::kTry);
        if (lock.IsHeld()) {
            lines.push_back("\"" + name + "\": a commit cut short that was not rolled back");
        }
    }
    for (const auto* kind : {&found.markers, &found.temporaries}) {
        for (const std::string& name : *kind) {
            const int claim = KsReplacementFile::ClaimAbandoned(name.c_str());
            if (claim >= 0) {
                close(claim);
                lines.push_back("\"" + name + "\": left by a process that is gone");
            }
        }
    }
    return lines;
}

LockedTable::LockedTable(const TableFiles& files, bool forWriting, FILE* repairs) {
    if (access(files.data.c_str(), F_OK) != 0) {
        throw MissingFileError("no table \"" + files.data + "\": " + std::strerror(errno));
    }
    RefuseFolder(files.data);
    if (!forWriting && KsFile::HasLeftovers(files.data.c_str())) {
        // What a writer that died left (a commit cut short, a change half made) only an open
        // for writing can repair.
        LockedTable(files, true).Close();
    }
    const int mode = forWriting ? IO_READ | IO_WRITE : IO_READ;
    const int type = forWriting ? LOCK_WRITE : LOCK_READ;
    lockHandle_ = KsIOFactory::Default().Open(files.data.c_str(), mode);
    lock_.emplace(*lockHandle_, type, 0, 0, KsIOLockGuard::kTry);
    if (!lock_->IsHeld()) {
        std::fprintf(stderr, "kstable: waiting for another process to release \"%s\"\n",
                     files.data.c_str());
    }
    while (!lock_->IsHeld()) {
        if (KsTool::Interrupted()) {
            throw Interrupted();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        lock_.emplace(*lockHandle_, type, 0, 0, KsIOLockGuard::kTry);
    }
    try {
        table_.Open(files.data.c_str(), mode);
    } catch (const KsException& error) {
        const std::string log = LogFileOf(files);
        if (forWriting &&
            !KsFileTransactionLog::Inspect(KsIOFactory::Default(), log.c_str()).empty()) {
            KsException::Generate("%s\n'kstable recover %s' sets the damaged log aside.", "kstable",
                                  error.GetErrorMessage(),
                                  files.data.substr(0, files.data.size() - 4).c_str());
        }
        throw;
    }
    for (const KsString& repair : table_.GetRepairs()) {
        std::fprintf(repairs, repairs == stderr ? "kstable: %s\n" : "%s\n", repair.GetCString());
    }
    if (table_.HasTransactionLog()) {
        KsFileTransactionLog& log = KsFileTransactionLog::Of(table_);
        for (const KsTimestamp& id : log.GetRecovered()) {
            std::fprintf(stderr,
                         "kstable: rolled back transaction %.17s of \"%s\", whose commit was cut "
                         "short\n",
                         id.GetDigits(), files.data.c_str());
        }
    }
}

void LockedTable::Close() {
    table_.Close();
    lock_->Release();
}

std::string LockedTable::CloseAndCutBack(std::int64_t size) noexcept {
    try {
        table_.Close();
    } catch (const KsException&) {
        // The bytes it could not write are the ones being cut off.
    }
    try {
        const std::int64_t excess = lockHandle_->GetFileSize64() - size;
        if (excess > 0) {
            lockHandle_->Truncate64(excess);  // cuts `excess` bytes off the end
        }
        return {};
    } catch (const KsException& error) {
        return error.GetErrorMessage();
    }
}
