#pragma once

#include "config/recordsections.h"

struct NtpSettings;

// Writing the record: NtpSettings::render() gives the text of a file,
// NtpSettings::writeTo() replaces a file with it. The section lines alone:
SectionLines renderSections(const NtpSettings& record);
