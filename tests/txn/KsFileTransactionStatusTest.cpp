#include <gtest/gtest.h>

#include <string>

#include "TxnTestSupport.h"
#include "support/MemoryStream.h"
#include "txn/KsFileTransactionStatus.h"

namespace {

using kstest::ErrorOf;

// Applies the operations named by `ops`: b(uilding), c(ommitting), f(ailing), r(ollback),
// q(uiet rollback), s(tabilize).
void Apply(KsFileTransactionStatus& status, const std::string& ops, const KsTimestamp& when) {
    for (char op : ops) {
        switch (op) {
        case 'b': status.Building(); break;
        case 'c': status.Committing(); break;
        case 'f': status.Failing(when); break;
        case 'r': status.Rolledback(when, false); break;
        case 'q': status.Rolledback(when, true); break;
        default: status.Stabilize(when); break;
        }
    }
}

TEST(KsFileTransactionStatus, TransitionsFromEveryReachableState) {
    KsTimestamp when;
    when.SetYear(2024);
    struct Row {
        const char* path;  // the operations that lead to the state tried
        char operation;
        const char* result;  // the state name after it, or the message
    };
    const Row rows[] = {
        {"", 'b', "Building"},
        {"b", 'b', "Cannot begin building when in \"Building\" state"},
        {"c", 'b', "Cannot begin building when in \"Committing\" state"},
        {"", 'c', "Committing"},
        {"b", 'c', "Committing"},
        {"cs", 'c', "Cannot begin committing when in \"Committed\" state"},
        {"c", 'f', "Failed"},
        {"", 'f', "Cannot begin failing when in \"Ready\" state"},
        {"", 'r', "Rolled Back"},
        {"c", 'r', "Rolled Back"},
        {"cs", 'r', "Rolled Back"},
        {"cf", 'r', "Cannot rollback a transaction which is \"Failed\""},
        {"b", 'r', "Cannot rollback a transaction which is \"Building\""},
        {"cf", 'q', "Failed"},
        {"b", 'q', "Building"},
        {"b", 's', "Ready"},
        {"c", 's', "Committed"},
        {"", 's', "Unable to examine transaction in state \"Ready\""},
        {"r", 's', "Unable to examine transaction in state \"Rolled Back\""},
    };
    for (const Row& row : rows) {
        KsFileTransactionStatus status(1, "d", KsTimestamp());
        Apply(status, row.path, KsTimestamp());
        char from = status.GetStatus();
        std::string error = ErrorOf([&] { Apply(status, std::string(1, row.operation), when); });
        EXPECT_EQ(error.empty() ? std::string(status.GetStatusString()) : error, row.result)
            << row.path << " " << row.operation;
        bool ends = error.empty() && std::string("FRC").find(status.GetStatus()) != std::string::npos &&
                    from != status.GetStatus();
        EXPECT_EQ(status.GetFinished() == when, ends) << row.path << " " << row.operation;
    }
}

TEST(KsFileTransactionStatus, StatusElementBytesAndReadingBack) {
    KsTimestamp created;
    created.SetJulianDayFromCalendarStart(0x000B42D0);
    created.SetTimeInMilliseconds(0x00050607);
    KsFileTransactionStatus status(0x0A0B0C0D, "abc", created);
    kstest::MemoryStream stream;
    status.Write(stream);
    // version, 'K', created day and milliseconds, finished (day 1, 0 ms), number, "abc".
    EXPECT_EQ(kstest::Hex(stream.Bytes(), 1),
              "1C 02 4B D0 42 0B 00 07 06 05 00 01 00 00 00 00 00 00 00 0D 0C 0B 0A 61 62 63 00");

    kstest::MemoryStream input(stream.Bytes());
    KsTimestamp unset;
    KsFileTransactionStatus back;
    back.Read(input);
    EXPECT_EQ(back.GetCreated(), created);
    EXPECT_EQ(back.GetFinished(), unset);
    EXPECT_EQ(back.GetNumber(), 0x0A0B0C0DU);
    EXPECT_STREQ(back.GetDescription(), "abc");
    EXPECT_STREQ(back.GetStatusString(), "Ready");
}

TEST(KsFileTransactionStatus, HostileElementsAreRefused) {
    struct Row {
        std::string bytes;
        const char* message;
    };
    const Row rows[] = {
        {std::string("\x1D\x02K", 3), "Unknown version"},
        {std::string("\x1C\x02X", 3), "Status character 'X' (88) is not recognized"},
    };
    for (const Row& row : rows) {
        kstest::MemoryStream stream(row.bytes);
        KsFileTransactionStatus status;
        EXPECT_EQ(ErrorOf([&] { status.Read(stream); }), row.message);
    }
    // Cut short: the stream's own error, never a crash.
    kstest::MemoryStream cut(std::string("\x1C\x02k\x01\x02", 5));
    KsFileTransactionStatus status;
    EXPECT_NE(ErrorOf([&] { status.Read(cut); }), "");
}

}  // namespace
