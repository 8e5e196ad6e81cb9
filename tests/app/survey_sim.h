// What the survey tests share about the simulated instrument: its options,
// its connection string and its records as the download decodes them.
#pragma once

#include "sim_session.h"

#include <survey_checks.h>
#include <survey_record.h>

#include <QString>

#include <vector>

inline sim::SimOptions options(std::size_t records)
{
    sim::SimOptions o = session::loopback_options();
    o.records = records;
    o.epoch = 0; // records end shortly before now, as on a real instrument
    return o;
}

inline QString tcpString(const sim::Simulator& s)
{
    return QStringLiteral("tcp:127.0.0.1:%1").arg(s.instruments()[0].port);
}

// A record of the simulator's as the download decodes it.
inline SurveyRecord recordOf(const sim::SurveyRecord& r)
{
    const sim::Bytes bytes = sim::SurveyStore::encode(r);
    auto d =
        decodeSurveyRecord(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()), r.index);
    return d ? *d : SurveyRecord{};
}

// The simulator's points as the download decodes them, newest record first.
inline std::vector<SurveyPoint> pointsOf(const sim::SurveyStore& store)
{
    std::vector<SurveyPoint> out;
    for (auto r = store.records().rbegin(); r != store.records().rend(); ++r) {
        const SurveyRecord d = recordOf(*r);
        out.insert(out.end(), d.points.begin(), d.points.end());
    }
    return out;
}

// Where each record's points lie in pointsOf(store), with its time.
inline std::vector<RecordSpan> spansOf(const sim::SurveyStore& store)
{
    std::vector<RecordSpan> out;
    std::size_t first = 0;
    for (auto r = store.records().rbegin(); r != store.records().rend(); ++r) {
        const std::size_t count = recordOf(*r).points.size();
        out.push_back({first, count, r->time});
        first += count;
    }
    return out;
}
