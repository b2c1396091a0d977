#include "pages/clockdrivers.h"

ClockDrivers::ClockDrivers() : QObject(nullptr)
{
    drivers.insert(1, tr("Undisciplined Local Clock (LOCAL)"));
    drivers.insert(2, tr("Trak 8820 GPS Receiver (GPS_TRAK)"));
    drivers.insert(3, tr("PSTI/Traconex 1020 WWV/WWVH Receiver (WWV_PST)"));
    drivers.insert(4, tr("Spectracom WWVB and GPS Receivers (WWVB_SPEC)"));
    drivers.insert(5, tr("TrueTime GPS/GOES/OMEGA Receivers (TRUETIME)"));
    drivers.insert(6, tr("IRIG Audio Decoder (IRIG_AUDIO)"));
    drivers.insert(7, tr("Radio CHU Audio Demodulator/Decoder (CHU)"));
    drivers.insert(8, tr("Generic Reference Driver (PARSE)"));
    drivers.insert(9, tr("Magnavox MX4200 GPS Receiver (GPS_MX4200)"));
    drivers.insert(10, tr("Austron 2200A/2201A GPS Receivers (GPS_AS2201)"));
    drivers.insert(11, tr("Arbiter 1088A/B GPS Receiver (GPS_ARBITER)"));
    drivers.insert(12, tr("KSI/Odetics TPRO/S IRIG Interface (IRIG_TPRO)"));
    drivers.insert(13, tr("Leitch CSD 5300 Master Clock Controller (ATOM_LEITCH)"));
    drivers.insert(14, tr("EES M201 MSF Receiver (MSF_EES)"));
    drivers.insert(16, tr("Bancomm GPS/IRIG Receiver (GPS_BANCOMM)"));
    drivers.insert(17, tr("Datum Precision Time System (GPS_DATUM)"));
    drivers.insert(18, tr("Automated Computer Time Service (ACTS_MODEM)"));
    drivers.insert(19, tr("Heath WWV/WWVH Receiver (WWV_HEATH)"));
    drivers.insert(20, tr("Generic NMEA GPS Receiver (NMEA)"));
    drivers.insert(21, tr("TrueTime GPS-VME Interface (GPS_VME)"));
    drivers.insert(22, tr("PPS Clock Discipline (PPS)"));
    drivers.insert(26, tr("Hewlett Packard 58503A GPS Receiver (GPS_HP)"));
    drivers.insert(27, tr("Arcron MSF Receiver (MSF_ARCRON)"));
    drivers.insert(28, tr("Shared Memory Driver (SHM)"));
    drivers.insert(29, tr("Trimble Navigation Palisade GPS (GPS_PALISADE)"));
    drivers.insert(30, tr("Motorola UT Oncore GPS GPS_ONCORE)"));
    drivers.insert(31, tr("Rockwell Jupiter GPS (GPS_JUPITER)"));
    drivers.insert(32, tr("Chrono-log K-series WWVB receiver (CHRONOLOG)"));
    drivers.insert(33, tr("Dumb Clock (DUMBCLOCK)"));
    drivers.insert(34, tr("Ultralink WWVB Receivers (ULINK)"));
    drivers.insert(35, tr("Conrad Parallel Port Radio Clock (PCF)"));
    drivers.insert(36, tr("Radio WWV/H Audio Demodulator/Decoder (WWV)"));
    drivers.insert(37, tr("Forum Graphic GPS Dating station (FG)"));
    drivers.insert(38, tr("hopf GPS/DCF77 6021/komp for Serial Line (HOPF_S)"));
    drivers.insert(39, tr("hopf GPS/DCF77 6039 for PCI-Bus (HOPF_P)"));
    drivers.insert(40, tr("JJY Receivers (JJY)"));
    drivers.insert(41, tr("TrueTime 560 IRIG-B Decoder"));
    drivers.insert(42, tr("Zyfer GPStarplus Receiver"));
    drivers.insert(43, tr("RIPE NCC interface for Trimble Palisade"));
    drivers.insert(44, tr("NeoClock4X - DCF77 / TDF serial line"));
}

QString ClockDrivers::laterDriverName(int number)
{
    switch (number) {
    case 45:
        return tr("Spectracom TSYNC PCI");
    case 46:
        return tr("GPSD JSON");
    default:
        return QString();
    }
}
