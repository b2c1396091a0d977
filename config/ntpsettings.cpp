#include "config/ntpsettings.h"

#include <algorithm>

NtpSettings ntpSettings;

bool ServerEntry::operator==(const ServerEntry& o) const
{
    return address == o.address && key == o.key && minPoll == o.minPoll && maxPoll == o.maxPoll &&
           iburst == o.iburst && burst == o.burst && prefer == o.prefer && noSelect == o.noSelect &&
           preempt == o.preempt && truechimer == o.truechimer && ttl == o.ttl &&
           version == o.version && mode == o.mode && pool == o.pool && peer == o.peer &&
           family == o.family && extraOptions == o.extraOptions && comment == o.comment;
}

namespace
{
const QString ntsWord = QStringLiteral("nts");
}

bool ServerEntry::usesNts() const
{
    return extraOptions.contains(ntsWord, Qt::CaseInsensitive);
}

namespace
{
// The numeric options of an association: the reader leaves one among the
// options without a field, with its value, when an int cannot hold it.
bool isNumericOption(const QString& word)
{
    static const QStringList names{QStringLiteral("minpoll"), QStringLiteral("maxpoll"),
                                   QStringLiteral("ttl"), QStringLiteral("version"),
                                   QStringLiteral("mode")};
    return names.contains(word, Qt::CaseInsensitive);
}
} // namespace

bool ServerEntry::holdsOutsizedNumber() const
{
    for (int i = 0; i + 1 < extraOptions.size(); ++i) {
        if (isNumericOption(extraOptions.at(i)))
            return true;
    }
    return false;
}

void ServerEntry::dropOutsizedNumbers(const QStringList& names)
{
    for (int i = 0; i + 1 < extraOptions.size();) {
        if (isNumericOption(extraOptions.at(i)) &&
            names.contains(extraOptions.at(i), Qt::CaseInsensitive))
            extraOptions.erase(extraOptions.begin() + i, extraOptions.begin() + i + 2);
        else
            ++i;
    }
}

void ServerEntry::setNts(bool on)
{
    if (on == usesNts())
        return;
    if (on) {
        extraOptions.append(ntsWord);
        return;
    }
    extraOptions.erase(std::remove_if(extraOptions.begin(), extraOptions.end(),
                                      [](const QString& word) {
                                          return word.compare(ntsWord, Qt::CaseInsensitive) == 0;
                                      }),
                       extraOptions.end());
}

bool FudgeEntry::operator==(const FudgeEntry& o) const
{
    return address == o.address && stratum == o.stratum && mode == o.mode && time1 == o.time1 &&
           time2 == o.time2 && refid == o.refid && flag1 == o.flag1 && flag2 == o.flag2 &&
           flag3 == o.flag3 && flag4 == o.flag4 && extraOptions == o.extraOptions &&
           comment == o.comment;
}

bool RefclockEntry::operator==(const RefclockEntry& o) const
{
    return driver == o.driver && unit == o.unit && mode == o.mode && minPoll == o.minPoll &&
           maxPoll == o.maxPoll && stratum == o.stratum && time1 == o.time1 && time2 == o.time2 &&
           refid == o.refid && prefer == o.prefer && flag1 == o.flag1 && flag2 == o.flag2 &&
           flag3 == o.flag3 && flag4 == o.flag4 && extraOptions == o.extraOptions &&
           comment == o.comment;
}

bool FileGenEntry::operator==(const FileGenEntry& o) const
{
    return name == o.name && type == o.type && file == o.file && link == o.link &&
           enabled == o.enabled && extraOptions == o.extraOptions && comment == o.comment;
}

bool RestrictEntry::operator==(const RestrictEntry& o) const
{
    return address == o.address && mask == o.mask && flags == o.flags && family == o.family &&
           comment == o.comment;
}

namespace
{
// "default", or four dotted decimal parts from 0 to 255.
bool isPlainRestrictAddress(const QString& address)
{
    if (address == QLatin1String("default"))
        return true;
    const QVector<QStringRef> parts = address.splitRef(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QStringRef& part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok, 10);
        if (!ok || value < 0 || value > 255)
            return false;
    }
    return true;
}
} // namespace

bool RestrictEntry::isPlainIpv4() const
{
    return family.isEmpty() && isPlainRestrictAddress(address);
}

bool DiscardEntry::operator==(const DiscardEntry& o) const
{
    return average == o.average && minimum == o.minimum && monitor == o.monitor &&
           extraOptions == o.extraOptions && comment == o.comment;
}

bool NtpSettings::operator==(const NtpSettings& o) const
{
    return statsDir == o.statsDir && broadcastDelay == o.broadcastDelay &&
           driftFile == o.driftFile && logFile == o.logFile && clockStats == o.clockStats &&
           cryptoStats == o.cryptoStats && loopStats == o.loopStats && peerStats == o.peerStats &&
           rawStats == o.rawStats && sysStats == o.sysStats &&
           broadcastClient == o.broadcastClient && noVolley == o.noVolley && fudges == o.fudges &&
           fileGens == o.fileGens && restricts == o.restricts && discards == o.discards &&
           servers == o.servers && broadcasts == o.broadcasts &&
           manycastServers == o.manycastServers && multicastClients == o.multicastClients &&
           refclocks == o.refclocks && enables == o.enables && logConfig == o.logConfig &&
           directiveExtras == o.directiveExtras && directiveComments == o.directiveComments;
}
