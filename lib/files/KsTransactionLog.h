#pragma once
// The table's view of its transaction log. A table opened for writing owns one, made by
// the installed KsTransactionSupport; the transaction layer gives it its content.

class KsTransactionLog {
public:
    virtual ~KsTransactionLog() = default;

protected:
    KsTransactionLog() = default;
    KsTransactionLog(const KsTransactionLog&) = delete;
    KsTransactionLog& operator=(const KsTransactionLog&) = delete;
};
