// The survey download from a connected M30 instrument, as the window and the
// command-line downloader run it: the record index list, then every record
// newest first, each tried again when it fails, until the list ends, the
// chosen period ends, the caller cancels, or the link or the instrument is
// lost.
#pragma once

#include <m30_comm.h>
#include <survey_point.h>

#include <QDateTime>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class M30Protocol;

struct SurveyRecord
{
    uint32_t index = 0;
    uint32_t time = 0;               // seconds since 1970 UTC
    std::vector<SurveyPoint> points; // the flagged ones with a position, in record order
    int impossible = 0;              // flagged, but not a place on the earth: left out
};

// Reads a record of `size` bytes (3436 as the instrument sends it): its time
// and the points whose flag is set and whose position is a place on the
// earth. None when the record claims more points than its 60 entries or is
// shorter than its header and points need. Point entry layout (32 bytes,
// little-endian): u32 flag, f32 latitude, f32 longitude, f32 altitude in
// metres at +12, f32 dose rate in microsievert per hour at +16, u32 time at
// +20, u16 counts per second at +24, u8 satellites at +26, u8 HDOP in tenths
// at +27 (the last entry has room for these 28 bytes only).
std::optional<SurveyRecord> decodeSurveyRecord(const char* bytes, int size, uint32_t index);

// Whole local calendar days from a record's time to `now`, as
// QDateTime::daysTo counts them, without a time-zone lookup per record:
// the records of one day share that day's bounds.
class DaysBefore
{
public:
    explicit DaysBefore(const QDateTime& now) : m_today(now.date()) {}
    int operator()(uint32_t time);

private:
    QDate m_today;
    qint64 m_start = 1, m_end = 0; // the day last looked up, [start, end)
    int m_days = 0;
};

class SurveyDownload
{
public:
    static constexpr int kMaxIndices = 10000;
    static constexpr int kRetries = 2;     // further tries of a failed record
    static constexpr int kSilentAfter = 3; // records failing in a row
    static constexpr int kConnected = 2;   // transport state of an open link

    enum class End {
        Complete,         // every record of the list was tried
        PeriodEnded,      // a record older than the period came
        Cancelled,        // the caller asked to stop
        LinkLost,         // the connection closed
        InstrumentSilent, // records failed in a row
    };

    // `oldest`: records older than this end the download; invalid keeps all.
    SurveyDownload(M30Protocol& protocol, int connection, QDateTime oldest = {});

    // Once `flag` is set, no exchange is tried again: a failed list or
    // record stays failed, and the caller ends the download (its `seen`).
    void stopWhen(const std::atomic<bool>& flag) { m_stop = &flag; }

    // The index list, tried again like a record; false when the instrument
    // refused it or the link closed. A list longer
    // than kMaxIndices is cut there (listCut() tells).
    bool fetchIndices();
    const std::vector<uint32_t>& indices() const { return m_indices; }
    bool listCut() const { return m_cut; }

    // Called after each record tried: its position from the newest (0 up),
    // the record, or null when it could not be downloaded. Returning false
    // stops the download after it.
    using RecordSeen = std::function<bool(int position, const SurveyRecord* record)>;

    // Fetches the records newest first.
    End fetchRecords(const RecordSeen& seen);

    // The same, with the records fetched on a thread of their own while the
    // calling thread handles each as it arrives, so the caller's work overlaps
    // the instrument's answers. `seen` runs on the calling thread, in order,
    // for every record fetched (one may follow a refusal, as it was already
    // on its way); `idle` runs there at most every `idleMs` while records come
    // and at least that often while none does; false from it stops like a
    // refusal from `seen`.
    End fetchRecordsAhead(const RecordSeen& seen, const std::function<bool()>& idle, int idleMs);

    int inPeriod() const { return m_inPeriod; } // records kept
    // Every listed record not downloaded: those that failed after retries
    // and, when the download ended early, those never tried.
    const std::vector<uint32_t>& missing() const { return m_missing; }
    int tried() const { return m_tried; }
    // Points left out of the kept records for a position off the earth.
    int impossiblePoints() const { return m_impossible; }

private:
    bool fetchRecord(uint32_t index, SurveyRecord& record);
    bool linkOpen() const;
    bool stopped() const { return m_stop && m_stop->load(); }
    End endEarly(End end, int next); // names the records from `next` on as missing

    M30Protocol& m_protocol;
    int m_connection;
    QDateTime m_oldest;
    const std::atomic<bool>* m_stop = nullptr;
    std::vector<uint32_t> m_indices;
    bool m_cut = false;
    int m_inPeriod = 0;
    int m_tried = 0;
    int m_impossible = 0;
    std::vector<uint32_t> m_missing;
};
