// What the window can show live of each instrument family: whether it keeps
// surveys for Download, where its dose rate comes from, whether it raises
// alarms, and the spectra it streams. One row per family, in live_family.cpp.
#pragma once

#include <spectrum_accumulator.h>

#include <QString>
#include <QStringList>

enum class DoseSource {
    None,   // the family reports no dose rate
    Events, // carried by its events
    Polled, // asked for through its status
};

struct LiveFamily
{
    int type = 0;             // MXX_TYPE_...
    bool surveyStore = false; // survey records for Download
    DoseSource dose = DoseSource::None;
    bool alarms = false;
    QStringList streams; // its spectra, one accumulation each; empty: none
    // Instruments that stream running totals are best followed as the latest.
    SpectrumAccumulator::Mode mode = SpectrumAccumulator::Mode::Accumulate;
    // How far the instrument's counter moves from one spectrum of the first
    // stream to the next: a counter shared with other events or spectrum
    // kinds moves by more than one.
    int sequenceStep = 1;

    bool hasSpectra() const { return !streams.isEmpty(); }
};

// The row of a family; one without dose rate, alarms or spectra for a type
// no family has.
const LiveFamily& liveFamily(int type);

// The families with a survey store: "an M28, M30, M34 or M36".
QString surveyFamilies();

// Why Download does not serve the family ("An M22 keeps no surveys: ..."),
// or empty when it does.
QString downloadRefusal(int type);

// "M30 C3000001", or the family alone while the serial is not known.
QString instrumentName(int type, const QString& serial);
