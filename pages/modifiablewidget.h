#pragma once

#include <QString>
#include <QWidget>

// Base of every settings page: loads its values from the configuration file,
// saves them back and reports the user's first change through dataChanged().
class ModifiableWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ModifiableWidget(QWidget* parent = nullptr);

    // Outcome of the last file write made by any page's saveSettings():
    // empty after a successful write, else the reason shown to the user.
    static QString lastWriteError();
    // True while a page's saveSettings() only previews what Apply would write
    // (for the review and the check): it must not ask or tell the user
    // anything then.
    static bool previewingSave();

public slots:
    virtual void loadSettings() = 0;
    virtual void saveSettings() = 0;

signals:
    void dataChanged(ModifiableWidget* object);

protected:
    // Refills the shared record ntpSettings from the configuration file.
    static void readNtpSettings();
    // Writes the shared record to the configuration file and keeps the
    // outcome for lastWriteError().
    static bool writeNtpSettings();
};

// A path as a page shows it: "/var/log/ntp.log" for "\"/var/log/ntp.log\"".
QString pathWithoutQuotes(const QString& path);
