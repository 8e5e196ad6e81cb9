// M30CommandSet: the marshalling of every M30 command, written once for
// M30Protocol and for the families whose sets are derived from M30's (M28,
// M34, M36). Each of them offers the methods of the rows it shares
// (m30_shared.def) and hides the rest.
#pragma once

#include "family_methods.h"
#include "protocol.h"

#include <m30_comm.h>

#include <QMetaType>
#include <QString>

#include <memory>

class M30CommandSet : public Protocol
{
protected:
    M30CommandSet() = default;

    // A method per M30_METHOD row of m30_shared.def (family_methods.h).
#define M30_SHARED(row, method, m28, m34, m36)
#define M30_SHARED_ROW(row, m28, m34, m36)
#define M30_METHOD(row, method, kind, parameters, m28, m34, m36)                                   \
    MXX_METHOD_DECLARATION(, M30, method, row, kind, parameters)
#include <m30_shared.def>
#undef M30_SHARED
#undef M30_SHARED_ROW

    // The rows of M30_SHARED, written by hand.
    bool getInhitibion(int& first, int& second);
    bool setInhibition(int first, int second);
    bool setLeds(int leds);
    bool getLeds(); // the instrument's LED word is not read back: false, nothing sent
    bool deleteRecord(int first, int second, int third, int fourth);
    bool saveCalibLog(int value, QString text);
    bool getCalibMethods(QString name, M30_calibration_methods& methods, int& status);
    bool saveCalibSpect(QString name, int number, int kind, int& status);
    // Refused, with nothing sent, for more than 1024 channels.
    bool uploadCalibSpect(M30_spectrum_data spectrum, QString name, int number, int kind,
                          int& status);
    bool downloadCalibSpect(int kind, int number, int part, M30_calib_spectrum& spectrum,
                            int& status);

    // Downloads one transmit-buffer item into `data`. This form trusts the
    // caller for room: 4 bytes per index up to `limit` for the index list,
    // one survey record for anything else.
    bool txBuffDownload(int kind, unsigned int selector, int start, int limit, int extra1,
                        int extra2, int* count, int* result2, int* result3, char* data, int* total);
    // The same with the room of `data` given: an instrument that sends more
    // ends the download with false, and nothing is written past `capacity`.
    bool txBuffDownload(int kind, unsigned int selector, int start, int limit, int extra1,
                        int extra2, int* count, int* result2, int* result3, char* data,
                        int capacity, int* total);

    bool connectWifi(QString network, int mode);
    // The texts of the network's settings, in their fields in order.
    bool setIpv4(QString network, QString method, QString address, QString netmask,
                 QString gateway);
    bool setIpv6(QString network, QString method, QString address, QString prefix, QString gateway);
    bool setNameServers(QString first, QString second);
    bool setAutoconnect(QString network, int on);
    bool getNuclideLibrary(M30_nuclib_entry* library, int part);
    bool updateCloudAssayId(int first, int second, int third, int* status);
};

// Inside a derived class's public part: the methods of the rows whose column
// of m30_shared.def is `on` (m30_offer.inc does it for a whole column).
#define M30_OFFER(method, on) M30_OFFER_WHEN(method, on)
#define M30_OFFER_WHEN(method, on) MXX_WHEN_##on(using M30CommandSet::method;)
