#pragma once

#include "host/host.h"
#include "host/processrunner.h"

#include <QObject>
#include <QScopedPointer>
#include <QTemporaryDir>

// The promises every Host keeps, run against one host: a test class derives
// from this, says which host (and the folder it may use, which the test
// reaches with its own file calls too), and QtTest runs these slots with
// its own. Paths are on that host.
class HostContract : public QObject
{
    Q_OBJECT
protected:
    virtual Host& host() = 0;
    // Where the cases make their files; both the test and the host see it.
    virtual QString folder() const { return m_dir->path(); }
    QString path(const char* name) const;
    // Runs a job of the host to its end.
    ProcessResult finish(ProcessJob* job);

private slots:
    void init();
    void readingOpensRegularFilesOnly();
    void readingStopsAtTheLimit();
    void batchAnswersEveryRequestInOrder();
    void replacementKeepsModeAndMakesItsCopy();
    void replacementRefusesWhatItMustNotTouch();
    void replacementCleansUpOnlyWhatIsItsOwn();
    void newFileAndFolders();
    void namesAreTakenLiterally();
    void processesShowWhoRunsWhat();
    void commandsGetTheirInput();
    void commandsKeepTheirLimits();
    void cancelledCommandsEnd();
    void sessionsTalkBothWays();

private:
    QScopedPointer<QTemporaryDir> m_dir;
};

// Test files, by the test's own system calls.
void put(const QString& path, const QByteArray& bytes);
QByteArray got(const QString& path);
QByteArray sha256(const QByteArray& bytes);
