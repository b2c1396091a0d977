#pragma once

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// Variables of a defaults file such as /etc/default/ntpsec, which the
// daemon's init script and unit read with the shell's "." command. Only what
// such files hold is worked out as the shell would: comments, assignments
// (several to a line, after "export" too), quoting with '...', "..." and
// backslashes, values over several lines, and $NAME / ${NAME} of variables
// set before. A variable whose value depends on anything else (a command,
// a condition, $(...), `...`, ~) is not guessed at: it is listed as not
// understood.
struct ShellVariables {
    QMap<QString, QString> values;
    QSet<QString> notUnderstood;
};

ShellVariables shellAssignments(const QByteArray& text);

// The words an unquoted $VARIABLE of `value` becomes: split at blanks, tabs
// and line breaks. `patterns` is set when a word holds *, ? or [, which the
// shell would expand to file names.
QStringList shellFields(const QString& value, bool* patterns = nullptr);
