#pragma once
// The commands of kstable. Each returns the exit status, raises UsageError for what the
// command line got wrong (exit status 2), KsException for a failed operation (1) and
// Interrupted for Ctrl-C (130).

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
// Checks the header against the data file and every index file against the records.
int CheckTable(const CommandLine& line);

class CBFFile;
// Builds the index of every indexed field from the records and saves it: after a change
// that moved or added records.
void RebuildIndexFiles(CBFFile& table);
// Carries out a file of changes as one transaction; all or nothing.
int ApplyChanges(const CommandLine& line);
// Lists the transactions of the table's log, newest first.
int ShowLog(const CommandLine& line);
