#include "txn/KsFileTransactionStatus.h"

#include "core/KsCallpath.h"
#include "io/KsStreamInterface.h"
#include "txn/KsTransactionLogFormat.h"

namespace {

constexpr const char* kClass = "KsFileTransactionStatus";
namespace Fmt = KsTransactionLogFormat;

struct StatusName {
    char status;
    const char* name;
};
constexpr StatusName kNames[] = {
    {Fmt::kBuilding, "Building"},
    {Fmt::kReady, "Ready"},
    {Fmt::kReadyExamining, "Ready (Examining)"},
    {Fmt::kCommitting, "Committing"},
    {Fmt::kCommitted, "Committed"},
    {Fmt::kCommittedExamining, "Committed (Examining)"},
    {Fmt::kRolledBack, "Rolled Back"},
    {Fmt::kRolledBackExamining, "Rolled Back (Examining)"},
    {Fmt::kFailed, "Failed"},
    {Fmt::kFailedExamining, "Failed (Examining)"},
};

const char* FindName(char status) {
    for (const StatusName& entry : kNames) {
        if (entry.status == status) {
            return entry.name;
        }
    }
    return nullptr;
}

void WriteTimestamp(KsOutputStreamInterface& stream, const KsTimestamp& when) {
    stream.WriteUnsignedLong(when.GetJulianDayFromCalendarStart());
    stream.WriteUnsignedLong(when.GetTimeInMilliseconds());
}

void ReadTimestamp(KsInputStreamInterface& stream, KsTimestamp& when) {
    std::uint32_t day = stream.ReadUnsignedLong();
    std::uint32_t milliseconds = stream.ReadUnsignedLong();
    when.SetJulianDayFromCalendarStart(day);
    when.SetTimeInMilliseconds(milliseconds);
}

}  // namespace

KsFileTransactionStatus::KsFileTransactionStatus(std::uint32_t number, const char* description,
                                                 const KsTimestamp& created)
    : created_(created), number_(number) {
    KsCallpath("KsFileTransactionStatus()", "KsFileTransacationStatus",
               [&] { description_ = description ? description : ""; });
}

void KsFileTransactionStatus::Building() {
    if (status_ != Fmt::kReady) {
        KsCallpath("Building()", kClass, [&] {
            KsException::GenerateAs<KsTransactionException>(
                "Cannot begin building when in \"%s\" state", kClass, GetStatusString());
        });
    }
    status_ = Fmt::kBuilding;
}

void KsFileTransactionStatus::Committing() {
    if (status_ != Fmt::kReady && status_ != Fmt::kBuilding) {
        KsCallpath("Committing()", kClass, [&] {
            KsException::GenerateAs<KsTransactionException>(
                "Cannot begin committing when in \"%s\" state", kClass, GetStatusString());
        });
    }
    status_ = Fmt::kCommitting;
}

void KsFileTransactionStatus::Failing(const KsTimestamp& when) {
    if (status_ != Fmt::kCommitting) {
        KsCallpath("Failing()", kClass, [&] {
            KsException::GenerateAs<KsTransactionException>(
                "Cannot begin failing when in \"%s\" state", kClass, GetStatusString());
        });
    }
    status_ = Fmt::kFailed;
    finished_ = when;
}

void KsFileTransactionStatus::Rolledback(const KsTimestamp& when, bool quiet) {
    if (status_ != Fmt::kReady && status_ != Fmt::kCommitting && status_ != Fmt::kCommitted) {
        if (quiet) {
            return;
        }
        KsCallpath("Rolledback()", kClass, [&] {
            KsException::GenerateAs<KsTransactionException>(
                "Cannot rollback a transaction which is \"%s\"", "KsTransactionStatus",
                GetStatusString());
        });
    }
    status_ = Fmt::kRolledBack;
    finished_ = when;
}

void KsFileTransactionStatus::Stabilize(const KsTimestamp& when) {
    switch (status_) {
        case Fmt::kBuilding:
        case Fmt::kReadyExamining:
            status_ = Fmt::kReady;
            break;
        case Fmt::kCommitting:
            status_ = Fmt::kCommitted;
            finished_ = when;
            break;
        case Fmt::kCommittedExamining:
            status_ = Fmt::kCommitted;
            break;
        case Fmt::kRolledBackExamining:
            status_ = Fmt::kRolledBack;
            break;
        case Fmt::kFailedExamining:
            status_ = Fmt::kFailed;
            break;
        default:
            KsCallpath("Stabilize()", kClass, [&] {
                KsException::GenerateAs<KsTransactionException>(
                    "Unable to examine transaction in state \"%s\"", kClass, GetStatusString());
            });
    }
}

const char* KsFileTransactionStatus::GetStatusString() const {
    const char* name = FindName(status_);
    if (name == nullptr) {
        KsCallpath("GetStatusString()", kClass, [&] {
            KsException::GenerateAs<KsTransactionException>("Unknown transaction status '%c' (%d)",
                                                            kClass, status_, int{status_});
        });
    }
    return name;
}

void KsFileTransactionStatus::Read(KsInputStreamInterface& stream) {
    KsCallpath("Read()", kClass, [&] {
        if (stream.ReadUnsignedShort() != Fmt::kStatusVersion) {
            KsException::GenerateAs<KsTransactionException>("Unknown version", kClass);
        }
        char status = 0;
        stream.Read(&status, 1, true);
        if (FindName(status) == nullptr) {
            KsException::GenerateAs<KsTransactionException>(
                "Status character '%c' (%d) is not recognized", kClass, status, int{status});
        }
        status_ = status;
        ReadTimestamp(stream, created_);
        ReadTimestamp(stream, finished_);
        number_ = stream.ReadUnsignedLong();
        stream.ReadString(description_, '\0');
    });
}

void KsFileTransactionStatus::Write(KsOutputStreamInterface& stream) const {
    KsCallpath("Write()", kClass, [&] {
        stream.WriteUnsignedShort(Fmt::kStatusVersion);
        stream.Write(&status_, 1);
        WriteTimestamp(stream, created_);
        WriteTimestamp(stream, finished_);
        stream.WriteUnsignedLong(number_);
        stream.WriteString(description_.GetCString(), true);
    });
}
