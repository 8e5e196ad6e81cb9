// M30Protocol: the survey instruments' command set, the transmit-buffer
// download of survey records, and the event stream as Qt signals.
#pragma once

#include "protocol.h"
#include "spectrum.h"

#include <m30_comm.h>

#include <QString>

#include <memory>

class M30Protocol : public Protocol
{
    Q_OBJECT

public:
    M30Protocol();

    int type() const override { return 12; }
    // Hooks the event stream on `connection`; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

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

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
    void assaySpectrumData(std::shared_ptr<Spectrum> spectrum);
    void identSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void csStabSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void accumulatedSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void bgCalibSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void keyboardData(std::shared_ptr<M30_keyboard_data> key);
    void totalData(std::shared_ptr<M30_total_data> total);
    void total20HzData(int total20Hz);
    void pulseData(std::shared_ptr<M30_pulse_data> pulseData);
    void statusData(std::shared_ptr<M30_status> statusData);
    void connmanData(std::shared_ptr<M30_connman_data> connmanData);
    void lightSensorMonoData(int monochromatic);
    void alarmData(int alarm);
    void progressData(std::shared_ptr<M30_progress_indication> prog);
    void assayResultsData(std::shared_ptr<M30_assay_results> assay);
    void onflyAssayResultsData(std::shared_ptr<M30_assay_results> assay);
    void identifyResultsData(std::shared_ptr<M30_identify_results> identify);
    void csStabResultsData(int status);
    void messageData(std::shared_ptr<M30_message_event> message);
};

Q_DECLARE_METATYPE(std::shared_ptr<M30_spectrum_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_keyboard_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_total_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_pulse_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_status>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_progress_indication>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_connman_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_assay_results>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_identify_results>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_message_event>)
