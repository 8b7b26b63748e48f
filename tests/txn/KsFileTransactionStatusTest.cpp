#include "TxnTestSupport.h"
#include "txn/KsFileTransactionStatus.h"

namespace {

// Applies the operations named by `ops`.
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
    // The operations that lead to the state tried and the operation tried last (b(uilding),
    // c(ommitting), f(ailing), r(ollback), q(uiet rollback), s(tabilize)); the state name
    // after it or the message.
    const std::pair<std::string, const char*> rows[] = {
        {"b", "Building"},
        {"bb", "Cannot begin building when in \"Building\" state"},
        {"cb", "Cannot begin building when in \"Committing\" state"},
        {"c", "Committing"},
        {"bc", "Committing"},
        {"csc", "Cannot begin committing when in \"Committed\" state"},
        {"cf", "Failed"},
        {"f", "Cannot begin failing when in \"Ready\" state"},
        {"r", "Rolled Back"},
        {"cr", "Rolled Back"},
        {"csr", "Rolled Back"},
        {"cfr", "Cannot rollback a transaction which is \"Failed\""},
        {"br", "Cannot rollback a transaction which is \"Building\""},
        {"cfq", "Failed"},
        {"bq", "Building"},
        {"bs", "Ready"},
        {"cs", "Committed"},
        {"s", "Unable to examine transaction in state \"Ready\""},
        {"rs", "Unable to examine transaction in state \"Rolled Back\""},
    };
    for (const auto& [path, result] : rows) {
        KsFileTransactionStatus status(1, "d", KsTimestamp());
        Apply(status, path.substr(0, path.size() - 1), KsTimestamp());
        char from = status.GetStatus();
        std::string error =
            kstest::MessageOrEmpty([&] { Apply(status, path.substr(path.size() - 1), when); });
        EXPECT_EQ(error.empty() ? std::string(status.GetStatusString()) : error, result) << path;
        bool ends = error.empty() && from != status.GetStatus() &&
                    std::string("FRC").find(status.GetStatus()) != std::string::npos;
        EXPECT_EQ(status.GetFinished() == when, ends) << path;
    }
}

// The element's bytes, read back; damaged and cut elements name what is wrong.
TEST(KsFileTransactionStatus, StatusElementBytesAndReadingBack) {
    KsTimestamp created, unset;
    created.SetJulianDayFromCalendarStart(0x000B42D0);
    created.SetTimeInMilliseconds(0x00050607);
    KsFileTransactionStatus status(0x0A0B0C0D, "abc", created), back;
    kstest::MemoryStream stream;
    status.Write(stream);
    // version, 'K', created day and milliseconds, finished (day 1, 0 ms), number, "abc".
    EXPECT_EQ(kstest::Hex(stream.Bytes(), 1),
              "1C 02 4B D0 42 0B 00 07 06 05 00 01 00 00 00 00 00 00 00 0D 0C 0B 0A 61 62 63 00");
    kstest::MemoryStream input(stream.Bytes());
    back.Read(input);
    EXPECT_EQ(back.GetCreated(), created);
    EXPECT_EQ(back.GetFinished(), unset);
    EXPECT_EQ(back.GetNumber(), 0x0A0B0C0DU);
    EXPECT_STREQ(back.GetDescription(), "abc");
    EXPECT_STREQ(back.GetStatusString(), "Ready");
    for (auto [bytes, message] :
         {std::pair{std::string("\x1D\x02K", 3), "Unknown version"},
          {std::string("\x1C\x02X", 3), "Status character 'X' (88) is not recognized"},
          {std::string("\x1C\x02k\x01\x02", 5),
           "Unable to perform a required read at offset 5 of \"memory\""}}) {
        kstest::MemoryStream damaged(bytes);
        EXPECT_EQ(kstest::MessageOrEmpty([&] { back.Read(damaged); }), message);
    }
}

}  // namespace
