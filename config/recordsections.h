#pragma once

#include <QStringList>

#include <array>

// The types the reader and the writer share: the sections of a written file
// and what became of each line of a file that was read.

// The sections of a written configuration file, in the order they appear.
enum class Section {
    Enables,
    StatsDir,
    LogFile,
    LogConfig,
    BroadcastClient,
    BroadcastDelay,
    DriftFile,
    Statistics,
    Servers,
    Broadcasts,
    ManycastServers,
    MulticastClients,
    Refclocks,
    Fudges,
    FileGens,
    Restricts,
    Discards,
};
constexpr int sectionCount = int(Section::Discards) + 1;

// What became of one line of a file when it was read into a record.
struct LineRole {
    // Taken in: the record holds the line, and writing regenerates it as line
    // `item` of `section`. Otherwise the line is carried over as it stands.
    bool taken = false;
    Section section = Section::Enables;
    int item = 0;
    // For a carried line of a directive whose first line wins: the section
    // of that directive, and whether the line gives it a value.
    bool firstLineWins = false;
    bool hasValue = false;
};

// The record's lines of every section, as writing them gives them (without
// line ends). The statistics section always holds one line, possibly empty.
using SectionLines = std::array<QStringList, sectionCount>;
