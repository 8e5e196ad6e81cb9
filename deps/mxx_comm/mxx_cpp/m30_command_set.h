// M30CommandSet: the marshalling of every M30 command, written once for
// M30Protocol and for the families whose sets are derived from M30's (M28,
// M34, M36). Each of them offers the methods of the rows it shares
// (m30_shared.def) and hides the rest.
#pragma once

#include "protocol.h"

#include <m30_comm.h>

#include <QMetaType>
#include <QString>

#include <memory>

class M30CommandSet : public Protocol
{
protected:
    M30CommandSet() = default;

    bool getVersions(M30_versions& versions);
    bool getDateTime(M30_date_time& dateTime);
    bool setDateTime(M30_date_time& dateTime);
    bool setGuiSerial(QString serial);
    bool getEventFilter(int& filter);
    bool setEventFilter(int filter);
    bool getInhitibion(int& first, int& second);
    bool setInhibition(int first, int second);
    bool restart();
    bool setupDisplay(int setup);
    bool emulateKey(int key);
    bool getParams(M30_params& params);
    bool setParams(M30_params& params);
    bool getStatus(M30_status& status);
    bool getGpsPower(int& power);
    bool setGpsPower(int power);
    bool reaquireBg();
    bool confirmAlarms(int alarms);
    bool setDefaultParams();
    bool loadDefaultParams();
    bool loadGammaBackupParams(int& status);
    bool setLeds(int leds);
    bool getLeds(); // the instrument's LED word is not read back: false, nothing sent
    bool startCsStab();
    bool stopCsStab();
    bool clearAccumulatedSpectrum();
    bool startAccumulatedSpectrum(int mode);
    bool stopAccumulatedSpectrum();
    bool startAssay();
    bool stopAssay();
    bool recordSurvey(int mode);
    bool deleteRecord(int first, int second, int third, int fourth);
    bool storeAssay();
    bool storeIdent();
    bool assignNote(int record, int note);
    bool getMemoryUsage(M30_memory_usage& usage);
    bool saveCalibLog(int value, QString text);
    bool checkCalibDate(int what, M30_check_calib* result);
    bool startIdent(int mode);
    bool stopIdent();
    bool startRecordAudio(int& slot);
    bool stopRecordAudio();
    bool playAudio(int slot);
    bool stopAudio();
    bool prepareNoteDB(int what, int& count);
    bool getCalibrationMethodNames(M30_calibration_method_name& names, int& status);
    bool getCalibMethods(QString name, M30_calibration_methods& methods, int& status);
    bool saveCalibMethods(M30_calibration_methods& methods, int& status);
    bool saveCalibSpect(QString name, int number, int kind, int& status);
    // Refused, with nothing sent, for more than 1024 channels.
    bool uploadCalibSpect(M30_spectrum_data spectrum, QString name, int number, int kind,
                          int& status);
    bool downloadCalibSpect(int kind, int number, int part, M30_calib_spectrum& spectrum,
                            int& status);
    bool setLinearizationSpect(int spectrum);
    bool linearizate();
    bool setHv(int hv);
    bool powerOff();
    bool welcome();

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

    bool setAdcParameter(int parameter, int value);
    bool getMotionSensorData(M30_motion_sensor& data);
    bool getUsbGadgetList(M30_usb_gadget_list* list);
    bool getWifiIpv4List(QString network, M30_wifi_ipv4_list* list);
    bool getWifiIpv6List(QString network, M30_wifi_ipv6_list* list);
    bool connectWifi(QString network, int mode);
    bool setWifi(int on);
    bool setPassphrase(QString passphrase);
    bool wifiScan();
    bool removeWifi(QString network);
    bool setIpv4(QString a, QString b, QString c, QString d, QString e);
    bool setIpv6(QString a, QString b, QString c, QString d, QString e);
    bool setNameServers(QString first, QString second);
    bool setAutoconnect(QString network, int on);
    bool requestAssayResult();
    bool assayCalculation();
    bool identifyCalculation();
    bool setLookupTable(int table);
    bool sessionToMaintainer();
    bool getNuclideLibrary(M30_nuclib_entry* library, int part);
    bool setNuclideLibrary(M30_nuclib_entry* library);
    bool writeLog(QString text);
    bool initCalibMethods();
    bool getExpandedStabSpect(int which, M30_expanded_spectrum_data* spectrum);
    bool setRemoteControl(int mode);
    bool setCoreInfo(M30_core_info_entry* info);
    bool setAssayCoreDepth(float depth);
    bool getVirtualComponents(int which, M30_virtual_components* components);
    bool setVirtualComponents(M30_virtual_components* components);
    bool updateCloudAssayId(int first, int second, int third, int* status);
    bool downloadJoblistFromCloud();
    bool deleteCloudRecords();
};

// For a derived family's list of event records X(family, name, m30 name):
// the meta-type of each std::shared_ptr.
#define M30_DERIVED_METATYPE(family, name, ...) Q_DECLARE_METATYPE(std::shared_ptr<family##_##name>)

// Inside a derived class's public part: the methods of the rows whose column
// of m30_shared.def is `on` (m30_offer.inc does it for a whole column).
#define M30_OFFER(method, on) M30_OFFER_WHEN(method, on)
#define M30_OFFER_WHEN(method, on) MXX_WHEN_##on(using M30CommandSet::method;)
