#pragma once
// The commands of kstable. Each returns the exit status, raises UsageError for what the
// command line got wrong (exit status 2), KsException for a failed operation (1) and
// Interrupted for Ctrl-C (130).

#include <string>
#include <vector>

#include "CommandLine.h"

// Lays the fields out and creates NAME.kss and NAME.cbf.
int CreateTable(const CommandLine& line);
// File type, title, record count, record length, extra bytes and the field layout.
int ShowTableInfo(const CommandLine& line);
// Appends comma-separated records; all or nothing.
int ImportRecords(const CommandLine& line);
// Writes records as comma-separated text to standard output.
int ExportRecords(const CommandLine& line);
// Sorts the table in place by the fields; the old order stays when it fails or is
// interrupted.
int SortTable(const CommandLine& line);
// Marks the field indexed and builds and saves its index file.
int IndexField(const CommandLine& line);
// Marks the field not indexed and deletes its index file.
int UnindexField(const CommandLine& line);
// Writes the records an index search finds, or their count.
int SearchTable(const CommandLine& line);
// Checks the header against the data file, every index file against the records and the
// transaction log, and reports what a process that died left.
int CheckTable(const CommandLine& line);
// Makes a damaged table whole where it can, then checks it.
int RecoverTable(const CommandLine& line);

class CBFFile;
struct TableFiles;
// The problems `check` reports of the open table, one line each; `checked` gets the number
// of index files that agree.
std::vector<std::string> TableProblems(CBFFile& table, const TableFiles& files, int& checked);
// Prints the problems, or that the table is sound; returns the exit status of check.
int ReportProblems(const std::vector<std::string>& problems, CBFFile& table,
                   const TableFiles& files, int checked);
// Builds the index of every indexed field from the records and saves it: after a change
// that moved or added records.
void RebuildIndexFiles(CBFFile& table);
// Carries out a file of changes as one transaction; all or nothing.
int ApplyChanges(const CommandLine& line);
// Lists the transactions of the table's log, newest first.
int ShowLog(const CommandLine& line);
