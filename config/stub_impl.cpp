// Temporary placeholder so the tree links until the store is implemented.
#include "config.h"
#include "ntpsettings.h"

NtpSettings ntpSettings;

Config::Config(QObject* parent) : QObject(parent) {}
Config::Config(const QString& path, QObject* parent) : QObject(parent), m_path(path) {}
QMap<QString, QStringList> Config::values(const QString&) const { return {}; }
void Config::clear(const QString&) {}
void Config::setValues(const QString&, const QStringList&) {}
void Config::save() {}
void Config::load(const QString&) {}
void NtpSettings::readFrom(const Config&) {}
bool NtpSettings::writeTo(const QString&) const { return false; }
bool NtpSettings::writeTo(const QString&, QString*) const { return false; }
