// The survey download from a connected M30 instrument, as the window and the
// command-line downloader run it: the record index list, then every record
// newest first, each tried again when it fails, until the list ends, the
// chosen period ends, the caller cancels, or the link or the instrument is
// lost.
#pragma once

#include <m30_comm.h>
#include <survey_record.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

class M30Protocol;

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

    enum class End {
        Complete,         // every record of the list was tried
        PeriodEnded,      // a record older than the period came
        Cancelled,        // the caller asked to stop
        LinkLost,         // the connection closed
        InstrumentSilent, // records failed in a row
        NotListed,        // the index list did not come (refused, or the link closed)
    };

    // One transmit-buffer item of kind `kind` from `start` (at most `limit`
    // of them) into `data`, of room `capacity`: the survey command set's
    // txBuffDownload, whichever family offers it.
    using TxBuffer = std::function<bool(int kind, int start, int limit, int* count, char* data,
                                        int capacity, int* total)>;
    // The transmit buffer of any family that has one.
    template <class SurveyProtocol> static TxBuffer txBufferOf(SurveyProtocol& protocol)
    {
        return [&protocol](int kind, int start, int limit, int* count, char* data, int capacity,
                           int* total) {
            return protocol.txBuffDownload(kind, 0, start, limit, 0, 0, count, nullptr, nullptr,
                                           data, capacity, total);
        };
    }

    // `oldest`: records older than this end the download; invalid keeps all.
    SurveyDownload(M30Protocol& protocol, int connection, QDateTime oldest = {});
    SurveyDownload(TxBuffer buffer, int connection, QDateTime oldest = {});

    // Once `flag` is set, or stop() was called, no exchange is tried again: a
    // failed list or record stays failed and the download ends after the
    // exchange under way. stop() may be called from any thread.
    void stopWhen(const std::atomic<bool>& flag) { m_stop = &flag; }
    void stop() { m_stopAsked = true; }

    // The instrument's serial and versions record, asked once before the
    // index list; empty when it did not answer.
    const QString& serial() const { return m_serial; }
    const QByteArray& versions() const { return m_versions; }

    // The index list, tried again like a record; false when the instrument
    // refused it, the link closed or the download was stopped. A list longer
    // than kMaxIndices is cut there (listCut() tells).
    bool fetchIndices();
    const std::vector<uint32_t>& indices() const { return m_indices; }
    bool listCut() const { return m_cut; }

    // Called after each record tried: its position from the newest (0 up),
    // the record, or null when it could not be downloaded. Returning false
    // stops the download after it.
    using RecordSeen = std::function<bool(int position, const SurveyRecord* record)>;
    // Called once the index list came (true) or did not (false); returning
    // false stops the download there.
    using Listed = std::function<bool(bool listed)>;

    // Fetches the records newest first, on the calling thread.
    End fetchRecords(const RecordSeen& seen);

    // The whole download on a thread of its own, the index list first when
    // `listed` is given, while the calling thread runs its event loop: the
    // window never waits on the instrument. `listed`, `seen` and `idle` run
    // on the calling thread, in order; every record fetched reaches `seen`
    // (one may follow a refusal, as it was already on its way). `idle` runs
    // every `idleMs` while the download lasts; false from it stops like a
    // refusal from `seen`. stop() ends it after the exchange under way; a
    // call that ends the calling thread's event loops (quitting) does too.
    End fetchAhead(const Listed& listed, const RecordSeen& seen,
                   const std::function<bool()>& idle = {}, int idleMs = 20);
    // The records alone, ahead, after fetchIndices().
    End fetchRecordsAhead(const RecordSeen& seen, const std::function<bool()>& idle, int idleMs)
    {
        return fetchAhead({}, seen, idle, idleMs);
    }

    const QDateTime& oldest() const { return m_oldest; }
    int inPeriod() const { return m_inPeriod; } // records kept
    // Every listed record not downloaded: those that failed after retries
    // and, when the download ended early, those never tried.
    const std::vector<uint32_t>& missing() const { return m_missing; }
    int tried() const { return m_tried; }
    // Points left out of the kept records for a position off the earth.
    int impossiblePoints() const { return m_impossible; }

private:
    void identify();
    bool fetchRecord(uint32_t index, SurveyRecord& record);
    bool linkOpen() const;
    bool stopped() const { return m_stopAsked || (m_stop && m_stop->load()); }
    End endEarly(End end, int next); // names the records from `next` on as missing

    TxBuffer m_buffer;
    int m_connection;
    QDateTime m_oldest;
    const std::atomic<bool>* m_stop = nullptr;
    std::atomic<bool> m_stopAsked{false};
    std::vector<uint32_t> m_indices;
    bool m_cut = false;
    int m_inPeriod = 0;
    int m_tried = 0;
    int m_impossible = 0;
    std::vector<uint32_t> m_missing;
    bool m_identified = false;
    QString m_serial;
    QByteArray m_versions;
};
