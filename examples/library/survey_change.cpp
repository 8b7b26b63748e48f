// survey_change TABLE: changes the table made by survey_import as one unit of work. Each
// change is a record action, whose commit returns the action that undoes it; when a change
// fails, the inverses of those already made are committed in reverse order, so the table is
// left as it was.
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "core/KsException.h"
#include "files/CBFFile.h"
#include "txn/KsRecordAction.h"

#include "survey_show.h"

namespace {

// Commits the actions in order; when one fails, undoes the ones before it.
void CommitAll(CBFFile& table, std::vector<std::unique_ptr<KsRecordAction>>& actions) {
    std::vector<std::unique_ptr<KsRecordAction>> inverses;
    try {
        for (auto& action : actions) {
            inverses.push_back(action->Commit(table));
        }
    } catch (const KsException& error) {
        std::printf("change %d of %d failed; rolled back\n", static_cast<int>(inverses.size()) + 1,
                    static_cast<int>(actions.size()));
        std::fprintf(stderr, "survey_change: %s\n", error.GetErrorMessage());
        for (auto inverse = inverses.rbegin(); inverse != inverses.rend(); ++inverse) {
            (*inverse)->Commit(table);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: survey_change TABLE\n";
        return 2;
    }
    try {
        const std::string name = std::string(argv[1]) + ".cbf";
        CBFFile table;
        table.Open(name.c_str(), IO_READ | IO_WRITE);
        ShowSurvey(table, "before");

        std::unique_ptr<KsFileRecord> record = table.GetNewRecord();
        std::vector<std::unique_ptr<KsRecordAction>> actions;
        record->PutField(0, "5", KsFileRecord::kPlain);
        record->PutField(1, "Eve Park", KsFileRecord::kPlain);
        record->PutField(2, "9.99", KsFileRecord::kPlain);
        actions.push_back(std::make_unique<KsAppendAction>(*record));
        actions.push_back(std::make_unique<KsDeleteAction>(1));
        actions.push_back(std::make_unique<KsDeleteAction>(99));  // no such record: fails
        CommitAll(table, actions);
        ShowSurvey(table, "after");

        actions.clear();
        actions.push_back(std::make_unique<KsAppendAction>(*record));
        actions.push_back(std::make_unique<KsDeleteAction>(1));
        CommitAll(table, actions);
        ShowSurvey(table, "committed");
        table.Close();
    } catch (const KsException& error) {
        std::cerr << "survey_change: " << error.GetErrorMessage() << '\n';
        return 1;
    }
    return 0;
}
