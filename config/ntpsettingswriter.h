#pragma once

#include "config/recordsections.h"

struct NtpSettings;
struct ServerEntry;
struct FudgeEntry;
struct RefclockEntry;
struct RestrictEntry;

// Writing the record: NtpSettings::render() gives the text of a file,
// NtpSettings::writeTo() replaces a file with it. The section lines alone:
SectionLines renderSections(const NtpSettings& record);

// One entry's line as writing the record gives it (without line end), for a
// page that shows the line beside the entry's columns.
QString serverLine(const ServerEntry& entry); // "server", "pool" or "peer"
QString associationLine(const char* keyword, const ServerEntry& entry);
QString fudgeLine(const FudgeEntry& entry);
QString refclockLine(const RefclockEntry& entry);
QString restrictLine(const RestrictEntry& entry);
