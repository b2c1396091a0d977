#pragma once

#include <QMap>
#include <QObject>
#include <QString>

// Fixed catalogue of reference clock drivers: driver number (the t of the
// pseudo-address 127.127.t.u) to the name shown to the user.
class ClockDrivers : public QObject
{
    Q_OBJECT
public:
    ClockDrivers();

    // The driver's name, empty when the number is not in the catalogue.
    QString name(int number) const { return drivers.value(number); }

    // The well-known short name of a driver the classic daemon gained after
    // the catalogue was made ("GPSD JSON" for 46); empty for other numbers.
    static QString laterDriverName(int number);

    // Ascending by driver number.
    QMap<int, QString> drivers;
};
