#pragma once

#include <QString>
#include <QStringList>

// The program's options: --config FILE, --host [USER@]HOST, --help, --version.
struct CommandLine {
    enum Outcome {
        Run,      // start the window
        Answered, // --help or --version: `output` goes to standard output, exit 0
        Error,    // a wrong option: `output` goes to standard error, exit 2
    };
    Outcome outcome = Run;
    QString output;
    QString configFile; // --config FILE; empty when not given
    QString host;       // --host [USER@]HOST; empty: this machine
};

// Needs no application object, so --help and --version answer without a
// display (and without root). `arguments` include the program name.
// `strict`: unknown options are errors; the first look, before the
// application object has taken Qt's own options away, is not strict.
CommandLine parseCommandLine(const QStringList& arguments, bool strict);
