// The M30 event stream, which M28, M34 and M36 send parts of: one row per
// event with the kinds of protocol_events.h, and a column per family, 1 where
// the family sends the event. Each family's event table is its column
// (M30_EVENTS, M34_EVENTS, ...), and the records of the derived families are
// types of their own, laid out as the M30 record of the same role.
//
// M30_EVENT_STREAM(X, F) gives X(F, code, kind, signal, parameters) for
// each row of F's column.
#pragma once

#include "protocol_events.h"

#include <m30_comm.h>

// The on-the-fly assay results come before the assay results, whose record
// they share and take their own from (ONFLY).
#define M30_EVENT_STREAM(X, F)                                                                     \
    MXX_M30_ROW(X, F, 10002, SPECTRA, ,                                                            \
                (spectrumData, accumulatedSpectrumData, assaySpectrumData, csStabSpectrumData,     \
                 bgCalibSpectrumData, identSpectrumData),                                          \
                1, 0, 1, 1)                                                                        \
    MXX_M30_ROW(X, F, 10003, RECORD, keyboardData, (keyboard_data), 1, 1, 1, 0)                    \
    MXX_M30_ROW(X, F, 10005, RECORD, totalData, (total_data), 1, 1, 1, 1)                          \
    MXX_M30_ROW(X, F, 10004, VALUE, total20HzData, (Gamma20Hz), 1, 1, 1, 0)                        \
    MXX_M30_ROW(X, F, 10006, RECORD, pulseData, (pulse_data), 1, 1, 1, 1)                          \
    MXX_M30_ROW(X, F, 10007, RECORD, statusData, (status), 1, 1, 1, 1)                             \
    MXX_M30_ROW(X, F, 10010, VALUE, lightSensorMonoData, (LightSensor), 1, 1, 1, 0)                \
    MXX_M30_ROW(X, F, 10011, VALUE, alarmData, (Alarms), 1, 1, 1, 0)                               \
    MXX_M30_ROW(X, F, 10012, RECORD, progressData, (progress_indication), 1, 1, 1, 1)              \
    MXX_M30_ROW(X, F, 10013, RECORD, connmanData, (connman_data), 1, 1, 1, 1)                      \
    MXX_M30_ROW(X, F, 10017, ONFLY, onflyAssayResultsData, (assay_results), 1, 0, 0, 0)            \
    MXX_M30_ROW(X, F, 10014, RECORD, assayResultsData, (assay_results), 1, 0, 1, 1)                \
    MXX_M30_ROW(X, F, 10009, RECORD, identifyResultsData, (identify_results), 1, 0, 1, 1)          \
    MXX_M30_ROW(X, F, 10015, VALUE, csStabResultsData, (CsStabResults), 1, 0, 1, 1)                \
    MXX_M30_ROW(X, F, 10016, RECORD, messageData, (message_event), 1, 0, 1, 0)

#define MXX_M30_ROW(X, F, code, kind, signal, parameters, m30, m28, m34, m36)                      \
    MXX_M30_WHEN(MXX_M30_COLUMN_##F(m30, m28, m34, m36), X(F, code, kind, signal, parameters))
#define MXX_M30_WHEN(on, ...) MXX_M30_WHEN_(on, __VA_ARGS__)
#define MXX_M30_WHEN_(on, ...) MXX_WHEN_##on(__VA_ARGS__)
#define MXX_M30_COLUMN_M30(m30, m28, m34, m36) m30
#define MXX_M30_COLUMN_M28(m30, m28, m34, m36) m28
#define MXX_M30_COLUMN_M34(m30, m28, m34, m36) m34
#define MXX_M30_COLUMN_M36(m30, m28, m34, m36) m36

// M30's own table: the whole stream.
#define M30_EVENTS(X, F) M30_EVENT_STREAM(X, F)

// For a derived family: `struct F_record : M30_record {};` per record row of
// its column, as M30_EVENT_STREAM(MXX_M30_DERIVED, M34) does.
#define MXX_M30_DERIVED(F, code, kind, signal, parameters)                                         \
    MXX_APPLY(MXX_M30_DERIVED_##kind, (F, MXX_UNPAREN parameters))
#define MXX_M30_DERIVED_RECORD(F, name)                                                            \
    struct F##_##name : M30_##name                                                                 \
    {                                                                                              \
    };
#define MXX_M30_DERIVED_SPECTRA(F, ...)
#define MXX_M30_DERIVED_VALUE(F, tag)
#define MXX_M30_DERIVED_ONFLY(F, name)
