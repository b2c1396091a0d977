#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

#include "config/filefingerprint.h"
#include "config/ntpsettings.h"

// The configuration file being edited and everything the program knows of
// it: which file it is, what it looked like at the last read, the record
// parsed then, and how the last write went. Pages and the main window go
// through here for every read and write of the file, so each rule about the
// file (outside changes, failed writes) lives in one place and can be tested
// without a window. The file is on the current host (Host::current()).
class ConfigDocument : public QObject
{
    Q_OBJECT
public:
    // The one document of the program.
    static ConfigDocument& instance();

    // The file being edited. Until a path is chosen, the classic default
    // (ntpConfPath()).
    QString path() const;
    void setPath(const QString& path);

    // Refills `record` from the file. While the file holds the bytes of the
    // last read, the record parsed then is taken again instead of parsing the
    // same text anew (the window builds seven pages, each of which loads).
    void load(NtpSettings* record);
    // errno value of the last read, 0 when the file could be read. A missing
    // file reads as an empty configuration (ENOENT), and so does one larger
    // than configFileLimit (EFBIG) or one that cannot be read.
    int lastReadError() const { return m_readError; }
    // Empty while only root controls the file (FileTrust); otherwise why the
    // program shows it without writing it, as found at the last read. Such
    // a file is never written or restored.
    QString readOnlyReason() const { return m_readOnlyReason; }
    // Looks again (the owner or mode may have been mended meanwhile) and
    // returns the new readOnlyReason().
    QString checkTrust();
    // What the file looked like when it was last read or written.
    const FileFingerprint& loadedFingerprint() const { return m_loadedFingerprint; }

    // What the file looks like now.
    FileFingerprint fingerprintOnDisk() const;
    // True when the file on disk is no longer the one last read: another
    // program changed it, and writing now would lose that change.
    bool changedOutside() const;
    // The user chose to write over the file as `seen` (fingerprintOnDisk())
    // shows it: the next writes expect that file instead of the one read.
    void acceptOutsideChange(const FileFingerprint& seen);

    // Writes `record` over the file, after keeping a copy of the old one
    // (ConfigBackups). The file must still be the one last read: when
    // another program changed it meanwhile, nothing is written and
    // lastWriteFoundChange() tells. False on failure, with the reason in
    // lastWriteError(); the file is then unchanged.
    bool save(const NtpSettings& record);
    // Empty after a successful write, else the system's reason.
    QString lastWriteError() const { return m_writeError; }
    // The reason no copy of the old file could be kept, when that stopped
    // the last write; empty otherwise.
    QString lastBackupError() const { return m_backupError; }
    // True when the last write stopped because the file was not the one
    // read any more.
    bool lastWriteFoundChange() const { return m_foundChange; }
    // True when the host never answered the last write (the connection was
    // lost): the file is the old or the new one, and settleLostWrite() tells
    // which once the host answers again.
    bool lastWriteOutcomeUnknown() const { return m_lostWrite.pending; }
    enum class LostWrite { None, Old, New, Other };
    // Looks at the file after a write whose outcome was unknown: still the
    // old one, the one written (taken as written from now on), or another.
    // None when no write is waiting to be told, or the file cannot be read
    // yet (it is then asked again next time).
    LostWrite settleLostWrite();

    // What the next copy kept by save() says made it, e.g. "before Apply of
    // the Sync page"; restore() keeps its copy as "before Restore".
    void setCopyReason(const QString& reason) { m_copyReason = reason; }

    // Puts the bytes of a kept copy back in place of the file, the same way
    // save() writes (a copy of the file it replaces is kept first).
    bool restore(const QString& backupPath);

    // The file's bytes as they are now (empty when it cannot be read).
    QByteArray currentBytes() const;

    // Runs `save`, during which save() writes nothing but only remembers the
    // bytes it would write; returns those bytes (empty if save() was not
    // called).
    QByteArray captureSave(const std::function<void()>& save);
    // True while captureSave() runs: the save is only previewed, so whatever
    // it would tell the user belongs to the real Apply.
    bool capturing() const { return m_capturing; }

    // Exactly the bytes save() would write for `record` over the file as it
    // is now on disk.
    QByteArray render(const NtpSettings& record) const;

signals:
    // The file was rewritten by save().
    void saved();

private:
    ConfigDocument() = default;
    void forgetParse();
    bool replaceWith(const std::function<QByteArray(const QByteArray& current)>& newBytes,
                     const QString& reason);
    bool failWrite(int error);
    QString whyNotAKeptCopy(const QString& backupPath) const;

    QString m_path;
    FileFingerprint m_loadedFingerprint;
    QString m_loadedPath; // the path the fingerprint is of
    int m_readError = 0;
    QString m_readOnlyReason;
    QString m_copyReason;
    QString m_writeError;
    QString m_backupError;
    bool m_foundChange = false;
    struct {
        bool pending = false;
        QString path;
        bool oldExisted = false;
        QByteArray oldDigest;
        QByteArray newBytes;
    } m_lostWrite;
    bool m_capturing = false;
    QByteArray m_captured;

    // The record parsed at the last read, with the bytes it was parsed from.
    bool m_parseValid = false;
    QString m_parsedPath;
    QByteArray m_parsedBytes;
    NtpSettings m_parsedRecord;
};
