#include "io/KsIOInterface.h"

#include <cerrno>
#include <cstdint>
#include <string>

#include "core/KsAlloc.h"
#include "core/KsCallpath.h"
#include "io/KsIO.h"
#include "io/KsIOFactory.h"
#include "io/KsIOLockGuard.h"
#include "platform/KsPosixFile.h"
#include "platform/KsSystemError.h"
#include "progress/KsProgressInterface.h"

namespace {

constexpr const char* kClass = "KsIOInterface";
constexpr std::int32_t kCopyBlockSize = 8192;
constexpr std::int32_t kCopyBufferSize = 256 * 1024;

bool FitsIn32Bits(std::int64_t value) {
    return value >= INT32_MIN && value <= INT32_MAX;
}

}  // namespace

void KsIOInterface::GetFileName(KsString& out) {
    out = GetFileName();
}

// ---- 64-bit forms over the 32-bit operations ----

std::int64_t KsIOInterface::Seek64Absolute(std::int64_t offset) {
    return KsCallpath("Seek64Absolute()", kClass, [&] {
        if (!FitsIn32Bits(offset)) {
            KsException::Generate("This IO object does not support 64-bit files", kClass);
        }
        return std::int64_t{Seek(static_cast<std::int32_t>(offset), 0)};
    });
}

std::int64_t KsIOInterface::Seek64FromCurrent(std::int64_t offset) {
    return KsCallpath("Seek64FromCurrent()", kClass, [&] {
        if (!FitsIn32Bits(offset)) {
            KsException::Generate("This IO object does not support 64-bit files", kClass);
        }
        return std::int64_t{Seek(static_cast<std::int32_t>(offset), 1)};
    });
}

std::int64_t KsIOInterface::Seek64FromEnd(std::int64_t offset) {
    return KsCallpath("Seek64FromEnd()", kClass, [&] {
        if (!FitsIn32Bits(offset)) {
            KsException::Generate("This IO object does not support 64-bit files", kClass);
        }
        return std::int64_t{Seek(static_cast<std::int32_t>(offset), 2)};
    });
}

std::int64_t KsIOInterface::Tell64() const {
    return Tell();
}

void KsIOInterface::Truncate64() {
    KsCallpath("Truncate64()", kClass, [&] { Truncate(0); });
}

void KsIOInterface::Truncate64(std::int64_t count) {
    KsCallpath("Truncate64()", kClass, [&] {
        if (!FitsIn32Bits(count)) {
            KsException::Generate("This IO object does not support 64-bit files", "KsIO");
        }
        Truncate(static_cast<std::int32_t>(count));
    });
}

std::int32_t KsIOInterface::As32Bits(std::int64_t value, const char* className) {
    if (!FitsIn32Bits(value)) {
        KsException::Generate("This IO object does not support 64-bit files", className);
    }
    return static_cast<std::int32_t>(value);
}

// ---- opening ----

void KsIOInterface::CheckOpenArguments(const char* name, int flags, const char* className) {
    if (name == nullptr) {
        KsException::Generate("Null pointer to filename", className);
    }
    if (!(flags & (IO_READ | IO_WRITE))) {
        KsException::Generate("Invalid file flags", className);
    }
}

int KsIOInterface::ReopenSystemFile(const char* name, int systemFlags, int flags,
                                    const char* className, KsString& opened,
                                    std::int64_t& position) {
    CheckOpenArguments(name, flags, className);
    opened = name;
    Close();
    return OpenSystemFile(opened.GetCString(), systemFlags, className, position);
}

int KsIOInterface::OpenSystemFile(const char* name, int flags, const char* className,
                                  std::int64_t& position) {
    int fd = KsPosix::OpenFile(name, flags);
    if (fd < 0) {
        ThrowOpenFailed("opening", name, errno, className);
    }
    position = 0;
    if ((flags & IO_APPEND) && (flags & IO_WRITE)) {
        position = KsPosix::Seek(fd, 0, 2);
        if (position < 0) {
            int errorNumber = errno;
            KsPosix::CloseFile(fd);
            ThrowOpenFailed("opening", name, errorNumber, className);
        }
    }
    return fd;
}

void KsIOInterface::ThrowOpenFailed(const char* verb, const char* name, int errorNumber,
                                    const char* className) {
    std::string message = std::string("Error in ") + verb + " file '" + name + "'.  " +
                          KsOpenFailureText(errorNumber);
    KsException::GenerateAs<KsFileOpenFailedException>("%s", className, message.c_str());
}

// ---- files by name ----

void KsIOInterface::Create(const char* name) {
    KsCallpath("Create()", kClass, [&] {
        KsIOFactory::Default().Open(name, IO_WRITE | IO_CREATE | IO_TRUNCATE)->Close();
    });
}

bool KsIOInterface::Exists(const char* name) {
    return name != nullptr && KsPosix::Exists(name);
}

void KsIOInterface::Delete(const char* name) {
    KsIOFactory::Default().Delete(name);
}

void KsIOInterface::Rename(const char* newName, const char* oldName) {
    KsIOFactory::Default().Rename(newName, oldName);
}

void KsIOInterface::Copy(const char* destination, const char* source,
                         KsProgressInterface* progress) {
    Copy(destination, source, progress, KsIOFactory::Default());
}

void KsIOInterface::Copy(const char* destination, const char* source, KsProgressInterface* progress,
                         KsIOFactory& factory) {
    KsCallpath("Copy()", kClass, [&] {
        std::unique_ptr<KsIOInterface> from =
            factory.Open(source, IO_READ | LOCK_READ | LOCK_WRITE);
        std::unique_ptr<KsIOInterface> to =
            factory.Open(destination, IO_WRITE | IO_CREATE | LOCK_READ | LOCK_WRITE);
        if (KsPosix::IsSameFile(source, destination)) {
            // Emptying the destination would destroy the source.
            KsException::Generate("Cannot copy file \"%s\" onto itself", kClass, source);
        }
        // Larger windows: the copy then calls the operating system once per 256 KiB.
        for (KsIOInterface* file : {from.get(), to.get()}) {
            if (auto* buffered = dynamic_cast<KsIO*>(file)) {
                buffered->SetBufferSize(kCopyBufferSize);
            }
        }
        KsIOLockGuard readLock(*from, LOCK_READ, 0, 0);
        KsIOLockGuard writeLock(*to, LOCK_WRITE, 0, 0);
        to->Truncate(0);
        CopyBlock(*from, *to, 0, 0, from->GetFileSize64(), progress);
        // The last bytes reach the file while it is still locked; any failure, the close
        // included, is the copy's failure.
        to->Flush();
        writeLock.Release();
        readLock.Release();
        to->Close();
        from->Close();
    });
}

void KsIOInterface::CopyBlock(KsIOInterface& source, KsIOInterface& destination,
                              std::int64_t destinationOffset, std::int64_t sourceOffset,
                              std::int64_t count, KsProgressInterface* progress) {
    KsCallpath("CopyBlock()", kClass, [&] {
        std::unique_ptr<char[]> block(KsAlloc(kCopyBlockSize));
        std::int64_t steps = count / kCopyBlockSize + 1;
        source.Seek64Absolute(sourceOffset);
        destination.Seek64Absolute(destinationOffset);
        if (progress != nullptr) {
            SetTitlef(*progress, 256, "Copying files...");
            SetDetailf(*progress, 256, "\"%s\" --> \"%s\"", source.GetFileName(),
                       destination.GetFileName());
            progress->SetMinimum(0);
            progress->SetMaximum(
                static_cast<std::int32_t>(std::min<std::int64_t>(steps, INT32_MAX)));
        }
        std::int64_t remaining = count;
        for (std::int64_t step = 1; step <= steps; ++step) {
            auto wanted =
                static_cast<std::int32_t>(std::min<std::int64_t>(remaining, kCopyBlockSize));
            std::int32_t got = wanted > 0 ? source.Read(block.get(), wanted, false) : 0;
            if (got > 0) {
                destination.Write(block.get(), got);
            }
            remaining -= got;
            if (progress != nullptr) {
                progress->SetPosition(static_cast<std::int32_t>(step));
                if (!progress->ShouldContinue()) {
                    KsException::GenerateAs<KsIOCanceledException>(
                        "Block copy canceled; %lld bytes remained to be copied", kClass,
                        static_cast<long long>(remaining));
                }
            }
        }
        if (progress != nullptr) {
            progress->Finish();
        }
    });
}

namespace {

// The folder of a temporary file: `directory`, else the temporary directory.
std::string TemporaryFolder(const char* directory) {
    if (directory != nullptr) {
        return directory;
    }
    std::string folder = KsPosix::TemporaryDirectory();
    if (folder.size() >= 1024) {
        KsThrowSystemError(ENAMETOOLONG, "KsIO", "Could not get temporary path name -- WIN32 : ");
    }
    return folder;
}

}  // namespace

const char* KsIOInterface::GetTempFileName(KsString& out, const char* directory,
                                           const char* prefix) {
    return KsCallpath("GetTempFileName()", kClass, [&] {
        std::string path;
        if (KsPosix::CreateTemporaryFile(TemporaryFolder(directory),
                                         prefix != nullptr ? prefix : "", path) != 0) {
            KsThrowSystemError(errno, "KsIO", "Could not get temporary file name -- WIN32 : ");
        }
        out = path.c_str();
        return out.GetCString();
    });
}

int KsIOInterface::CreateClaimedTempFile(KsString& out, const char* directory, const char* prefix) {
    return KsCallpath("GetTempFileName()", kClass, [&] {
        std::string path;
        int claim = KsPosix::CreateClaimedTemporaryFile(TemporaryFolder(directory),
                                                        prefix != nullptr ? prefix : "", path);
        if (claim < 0) {
            KsThrowSystemError(errno, "KsIO", "Could not get temporary file name -- WIN32 : ");
        }
        out = path.c_str();
        return claim;
    });
}
