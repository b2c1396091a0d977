#include "filefingerprint.h"
FileFingerprint FileFingerprint::ofFile(const QString&) { return {}; }
FileFingerprint FileFingerprint::ofContent(const QByteArray&, const QDateTime&) { return {}; }
