// Record actions from untrusted stream bytes, carried out on a small keyed table: a read
// either fails with a library error or gives an action that writes back to the same bytes;
// a commit either changes the table and gives an inverse, or fails and leaves the table
// as it was; and the inverses, committed last to first, bring the table back exactly.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/MemoryStream.h"
#include "txn/ActionTable.h"
#include "txn/KsRecordAction.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// One table for the whole run, in a folder of its own; every input leaves it as it found it.
kstest::ActionTable& Table() {
    static std::unique_ptr<kstest::ActionTable> table = [] {
        std::string folder = (std::filesystem::temp_directory_path() / "ksactionXXXXXX").string();
        Check(mkdtemp(folder.data()) != nullptr);
        return kstest::MakeActionTable(folder + "/fuzz.cbf", 4);
    }();
    return *table;
}

std::string Written(const KsRecordAction& action) {
    kstest::MemoryStream stream;
    KsRecordAction::Write(action, stream);
    return stream.Bytes();
}

// The next action of the stream, or null when the stream holds no more readable ones.
std::unique_ptr<KsRecordAction> NextAction(KsFile& table, kstest::MemoryStream& stream) {
    std::size_t start = stream.Position();
    if (start >= stream.Bytes().size()) {
        return nullptr;
    }
    std::unique_ptr<KsRecordAction> action;
    try {
        action = KsRecordAction::Read(table, stream);
    } catch (const KsException&) {
        return nullptr;
    }
    // Text fields read back trimmed, so only the second writing is compared.
    std::string bytes = Written(*action);
    kstest::MemoryStream again(bytes);
    Check(Written(*KsRecordAction::Read(table, again)) == bytes);
    Check(Written(*action->Copy()) == bytes);
    KsString description;
    action->AppendDescription(description);
    return action;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kstest::ActionTable& table = Table();
    static const std::string start = kstest::Snapshot(table);
    kstest::MemoryStream stream(std::string(reinterpret_cast<const char*>(data), size));
    std::vector<std::unique_ptr<KsRecordAction>> inverses;
    for (int i = 0; i < 8; ++i) {
        std::unique_ptr<KsRecordAction> action = NextAction(table, stream);
        if (!action) {
            break;
        }
        std::string before = kstest::Snapshot(table);
        try {
            inverses.push_back(action->Commit(table));
        } catch (const KsRollbackFailure&) {
            std::abort();  // nothing here makes an undo fail
        } catch (const KsException&) {
            Check(kstest::Snapshot(table) == before);
        }
    }
    while (!inverses.empty()) {
        try {
            inverses.back()->PermanentCommit(table);
        } catch (const KsException&) {
            std::abort();  // an inverse that cannot be carried out is a fault
        }
        inverses.pop_back();
    }
    Check(kstest::Snapshot(table) == start);
    return 0;
}
