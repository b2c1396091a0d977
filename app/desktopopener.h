#pragma once

#include <QString>
#include <QStringList>

class QUrl;

// Opens things on the desktop of the person at this machine: the file in
// their editor, as them. Tests replace it to see what would be opened.
class DesktopOpener
{
public:
    virtual ~DesktopOpener() = default;

    // Starts a program that outlives the call and the window.
    virtual bool startDetached(const QString& program, const QStringList& arguments);
    // The desktop's default application for `url`.
    virtual bool openUrl(const QUrl& url);

    static DesktopOpener& instance();
    // Tests only: nullptr restores the real one. Not owned.
    static void setInstanceForTesting(DesktopOpener* opener);
};
