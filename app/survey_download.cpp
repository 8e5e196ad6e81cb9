#include "survey_download.h"

#include <m17_comm.h>
#include <m30_protocol.h>
#include <mxx_bytes.h>
#include <mxx_comm.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <mutex>
#include <thread>

int DaysBefore::operator()(uint32_t time)
{
    if (time >= m_start && time < m_end)
        return m_days;
    const auto dateOf = [](qint64 t) { return QDateTime::fromSecsSinceEpoch(t).date(); };
    const QDate day = dateOf(time);
    m_days = static_cast<int>(day.daysTo(m_today));
    m_start = QDateTime(day, QTime(0, 0)).toSecsSinceEpoch();
    m_end = QDateTime(day.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
    // Where local time skips a midnight, the bounds Qt gives may be off by
    // the skipped hour; a day whose bounds do not check is looked up each time.
    if (dateOf(m_start) != day || dateOf(m_start - 1) == day || dateOf(m_end - 1) != day ||
        dateOf(m_end) == day)
        m_start = 1, m_end = 0;
    return m_days;
}

SurveyDownload::SurveyDownload(M30Protocol& protocol, int connection, QDateTime oldest)
    : SurveyDownload(txBufferOf(protocol), connection, std::move(oldest))
{
}

SurveyDownload::SurveyDownload(TxBuffer buffer, int connection, QDateTime oldest)
    : m_buffer(std::move(buffer)), m_connection(connection), m_oldest(std::move(oldest))
{
}

void SurveyDownload::identify()
{
    if (m_identified || stopped())
        return;
    m_identified = true;
    char serial[8] = {};
    if (M17_get_serial(m_connection, serial, 1) == 0)
        m_serial = QString::fromLatin1(serial, int(qstrnlen(serial, sizeof serial))).trimmed();
    QByteArray versions(int(sizeof(M30_versions)), 0);
    if (M30_get_versions(m_connection, versions.data(), 1) == 0)
        m_versions = versions;
}

bool SurveyDownload::fetchIndices()
{
    identify();
    m_indices.assign(kMaxIndices, 0);
    int count = 0;
    bool listed = false;
    for (int attempt = 0; attempt <= kRetries && !listed && !(attempt > 0 && stopped());
         ++attempt) {
        listed = m_buffer(M30_TX_KIND_INDEX_LIST, 1, kMaxIndices, &count,
                          reinterpret_cast<char*>(m_indices.data()), kMaxIndices * 4, nullptr);
        if (!listed && !linkOpen())
            break;
    }
    if (!listed) {
        m_indices.clear();
        return false;
    }
    m_cut = count > kMaxIndices;
    m_indices.resize(static_cast<size_t>(std::clamp(count, 0, kMaxIndices)));
    return true;
}

bool SurveyDownload::linkOpen() const
{
    return MXX_get_conn_state_id(m_connection) == COMM_STATE_OPEN;
}

bool SurveyDownload::fetchRecord(uint32_t index, SurveyRecord& record)
{
    char bytes[M30_SURVEY_RECORD_SIZE];
    for (int attempt = 0; attempt <= kRetries && !(attempt > 0 && stopped()); ++attempt) {
        std::fill(std::begin(bytes), std::end(bytes), 0);
        int scratch = 0, total = 0;
        if (m_buffer(M30_TX_KIND_RECORD, static_cast<int>(index), 1, &scratch, bytes, sizeof bytes,
                     &total)) {
            // A record cut short or claiming more points than it holds is
            // no record: never "downloaded with 0 points".
            if (std::optional<SurveyRecord> decoded = decodeSurveyRecord(bytes, total, index)) {
                record = std::move(*decoded);
                return true;
            }
        }
        if (!linkOpen())
            return false;
    }
    return false;
}

SurveyDownload::End SurveyDownload::fetchRecords(const RecordSeen& seen)
{
    const uint32_t oldest =
        m_oldest.isValid() ? static_cast<uint32_t>(std::max<qint64>(m_oldest.toSecsSinceEpoch(), 0))
                           : 0;
    const int count = static_cast<int>(m_indices.size());
    int failedInRow = 0;
    for (int i = 0; i < count; ++i) {
        if (!linkOpen())
            return endEarly(End::LinkLost, i);
        if (stopped())
            return endEarly(End::Cancelled, i);
        const uint32_t index = m_indices[static_cast<size_t>(count - 1 - i)];
        SurveyRecord record;
        ++m_tried;
        const bool ok = fetchRecord(index, record);
        if (ok && record.time < oldest)
            return End::PeriodEnded;
        if (ok) {
            ++m_inPeriod;
            m_impossible += record.impossible;
            failedInRow = 0;
        } else {
            m_missing.push_back(index);
            if (!linkOpen())
                return endEarly(End::LinkLost, i + 1);
            ++failedInRow;
        }
        if (!seen(i, ok ? &record : nullptr))
            return endEarly(End::Cancelled, i + 1);
        if (failedInRow >= kSilentAfter)
            return endEarly(End::InstrumentSilent, i + 1);
    }
    return End::Complete;
}

SurveyDownload::End SurveyDownload::endEarly(End end, int next)
{
    const int count = static_cast<int>(m_indices.size());
    for (int i = next; i < count; ++i)
        m_missing.push_back(m_indices[static_cast<size_t>(count - 1 - i)]);
    return end;
}

SurveyDownload::End SurveyDownload::fetchAhead(const Listed& listed, const RecordSeen& seen,
                                               const std::function<bool()>& idle, int idleMs)
{
    // What the fetcher found, in the order it found it. The calling thread
    // takes it in batches, every idleMs and at once when the list or the end
    // comes, rather than waking for every record: on two cores a wake-up per
    // record takes the processor from the exchanges themselves.
    struct Found
    {
        enum { List, Record, Last } kind;
        bool ok;
        int position;
        SurveyRecord record;
        End end;
    };
    std::mutex mutex;
    std::deque<Found> found;

    QEventLoop loop;
    bool refused = false, finished = false, handling = false;
    End end = End::Complete;
    auto refuse = [&] {
        refused = true;
        stop();
    };
    // The caller's work may run an event loop of its own (a progress dialog
    // does): the next batch waits until this one is handled, in order.
    auto handle = [&] {
        if (handling)
            return;
        handling = true;
        for (;;) {
            std::deque<Found> batch;
            {
                std::lock_guard<std::mutex> lock(mutex);
                batch.swap(found);
            }
            if (batch.empty())
                break;
            for (Found& f : batch) {
                if (f.kind == Found::List && !listed(f.ok))
                    refuse();
                if (f.kind == Found::Record && !seen(f.position, f.ok ? &f.record : nullptr))
                    refuse();
                if (f.kind == Found::Last) {
                    end = f.end;
                    finished = true;
                    loop.quit();
                }
            }
        }
        handling = false;
    };
    QObject receiver; // lives on the calling thread: wake-ups are posted to it
    auto push = [&](Found item, bool wake) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            found.push_back(std::move(item));
        }
        if (wake)
            QMetaObject::invokeMethod(&receiver, handle, Qt::QueuedConnection);
    };

    std::thread fetcher([&] {
        const bool ok = !listed || fetchIndices();
        // Judged before the caller hears of it: its answer may stop the download.
        End fetched = ok ? End::Complete : stopped() ? End::Cancelled : End::NotListed;
        if (listed)
            push({Found::List, ok, 0, {}, End::Complete}, true);
        if (ok)
            fetched = fetchRecords([&](int position, const SurveyRecord* record) {
                push({Found::Record, record != nullptr, position, record ? *record : SurveyRecord{},
                      End::Complete},
                     false);
                return !stopped();
            });
        push({Found::Last, true, 0, {}, fetched}, true);
    });

    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, &receiver, [&] {
        handle();
        if (idle && !finished && !idle())
            refuse();
    });
    ticks.start(idleMs);
    // Quitting ends every event loop, this one too: the download then ends
    // after the exchange under way.
    if (!finished)
        loop.exec();
    ticks.stop();
    if (!finished)
        stop();
    fetcher.join();
    // Whatever arrived is handled, even after a refusal: nothing fetched is lost.
    handle();
    QCoreApplication::removePostedEvents(&receiver);
    // A refusal that came after the fetcher's last record ends it as cancelled.
    return refused && (end == End::Complete || end == End::PeriodEnded) ? End::Cancelled : end;
}
