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
// Carries out a file of changes as one transaction; all or nothing.
int ApplyChanges(const CommandLine& line);
// Lists the transactions of the table's log, newest first.
int ShowLog(const CommandLine& line);
