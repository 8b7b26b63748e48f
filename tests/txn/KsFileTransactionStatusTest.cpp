#include <gtest/gtest.h>

#include <string>

#include "TxnTestSupport.h"
#include "support/MemoryStream.h"
#include "txn/KsFileTransactionStatus.h"

namespace {

// A status in state `state`, reached through the transitions that lead there.
KsFileTransactionStatus InState(char state) {
    KsFileTransactionStatus status(1, "d", KsTimestamp());
    KsTimestamp when;
    switch (state) {
    case '.': status.Building(); break;
    case '?': status.Committing(); break;
    case 'C': status.Committing(); status.Stabilize(when); break;
    case 'R': status.Rolledback(when, false); break;
    case 'F': status.Committing(); status.Failing(when); break;
    default: break;
    }
    return status;
}

using kstest::ErrorOf;

TEST(KsFileTransactionStatus, TransitionsFromEveryReachableState) {
    KsTimestamp when;
    when.SetYear(2024);
    struct Row {
        char from;
        const char* operation;
        const char* result;  // the state name after it, or the message
    };
    const Row rows[] = {
        {'K', "Building", "Building"},
        {'.', "Building", "Cannot begin building when in \"Building\" state"},
        {'?', "Building", "Cannot begin building when in \"Committing\" state"},
        {'K', "Committing", "Committing"},
        {'.', "Committing", "Committing"},
        {'C', "Committing", "Cannot begin committing when in \"Committed\" state"},
        {'?', "Failing", "Failed"},
        {'K', "Failing", "Cannot begin failing when in \"Ready\" state"},
        {'K', "Rollback", "Rolled Back"},
        {'?', "Rollback", "Rolled Back"},
        {'C', "Rollback", "Rolled Back"},
        {'F', "Rollback", "Cannot rollback a transaction which is \"Failed\""},
        {'.', "Rollback", "Cannot rollback a transaction which is \"Building\""},
        {'F', "QuietRollback", "Failed"},
        {'.', "QuietRollback", "Building"},
        {'.', "Stabilize", "Ready"},
        {'?', "Stabilize", "Committed"},
        {'K', "Stabilize", "Unable to examine transaction in state \"Ready\""},
        {'R', "Stabilize", "Unable to examine transaction in state \"Rolled Back\""},
    };
    for (const Row& row : rows) {
        KsFileTransactionStatus status = InState(row.from);
        std::string op = row.operation;
        std::string error = ErrorOf([&] {
            if (op == "Building") status.Building();
            if (op == "Committing") status.Committing();
            if (op == "Failing") status.Failing(when);
            if (op == "Rollback") status.Rolledback(when, false);
            if (op == "QuietRollback") status.Rolledback(when, true);
            if (op == "Stabilize") status.Stabilize(when);
        });
        EXPECT_EQ(error.empty() ? std::string(status.GetStatusString()) : error, row.result)
            << row.from << " " << op;
        bool ends = error.empty() && std::string("FRC").find(status.GetStatus()) != std::string::npos &&
                    row.from != status.GetStatus();
        EXPECT_EQ(status.GetFinished() == when, ends) << row.from << " " << op;
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
