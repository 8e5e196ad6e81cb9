// M18Protocol: the command set of the survey and assay spectrometers with
// on-board logs and a nuclide library. The family sends no events.
#pragma once

#include "protocol.h"

#include <m18_comm.h>

#include <QString>

class M18Protocol : public Protocol
{
    Q_OBJECT

public:
    int type() const override { return 4; }

    bool getParams(M18_params& params);
    bool setParams(const M18_params& params); // its settable block
    bool getStatus(M18_status& status);

    // Per log: the number of entries and the index of the oldest; one entry
    // by index.
    bool getStabLogCount(int& entries, int& oldest);
    bool getStabLogEntry(int index, M18_stab_log_entry& entry);
    bool getAssayLogCount(int& entries, int& oldest);
    bool getAssayLogEntry(int index, M18_assay_log_entry& entry);
    bool getIdentLogCount(int& entries, int& oldest);
    bool getIdentLogEntry(int index, M18_ident_log_entry& entry);
    bool getSurveyLogCount(int& entries, int& oldest);
    bool getSurveyLogEntry(int index, M18_survey_log_entry& entry);
    bool getSpectraLogCount(int& entries, int& oldest);
    bool getSpectraLogEntry(int index, M18_spectrum_log_entry& entry);
    bool getAirSpectraLogCount(int& entries, int& oldest);
    bool getAirSpectraLogEntry(int index, M18_spectrum_log_entry& entry);
    bool getLogList(M18_log_list& list);
    bool clearLogs(int mask); // bit 0 stabilisation .. bit 5 air spectra

    bool getGps(double& latitude, double& longitude);
    bool setGps(double latitude, double longitude);
    bool getMemoryUsage(M18_memory_usage& usage);
    bool photomultiplierOff();
    bool sendEvent(int event);
    bool getScreen(M18_screen& screen);

    bool nuclideLibraryClear();
    bool nuclideLibraryRead(int index, M18_nuclide& nuclide);
    bool nuclideLibraryWrite(int index, const M18_nuclide& nuclide);
    bool nuclideLibraryTest(int& result); // 0: sound

    // The display name of a model number; empty for one not known.
    static QString getModelName(int model);
};
