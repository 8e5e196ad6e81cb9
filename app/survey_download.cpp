#include "survey_download.h"

#include <m30_protocol.h>
#include <mxx_bytes.h>
#include <mxx_comm.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

// The bytes a record needs for its header and `count` points: the last entry
// of a full record has room for 28 of its 32 bytes, all that is read of it.
constexpr int kPointBytesRead = 28;
int recordBytesNeeded(uint32_t count)
{
    return count == 0 ? M30_SURVEY_POINT_COUNT + 4
                      : M30_SURVEY_POINTS + M30_SURVEY_POINT_SIZE * int(count - 1) + kPointBytesRead;
}
static_assert(M30_SURVEY_POINTS + M30_SURVEY_POINT_SIZE * (M30_SURVEY_MAX_POINTS - 1) +
                      kPointBytesRead ==
                  M30_SURVEY_RECORD_SIZE,
              "a full record ends with the bytes read of its last point");

} // namespace

std::optional<SurveyRecord> decodeSurveyRecord(const char* bytes, int size, uint32_t index)
{
    if (size < recordBytesNeeded(0))
        return std::nullopt;
    const uint32_t count = MXX_get_u32(bytes + M30_SURVEY_POINT_COUNT);
    if (count > M30_SURVEY_MAX_POINTS || size < recordBytesNeeded(count))
        return std::nullopt;
    SurveyRecord r;
    r.index = index;
    r.time = MXX_get_u32(bytes + M30_SURVEY_TIME);
    for (uint32_t j = 0; j < count; ++j) {
        const char* p = bytes + M30_SURVEY_POINTS + M30_SURVEY_POINT_SIZE * j;
        if (MXX_get_u32(p) == 0)
            continue;
        SurveyPoint point;
        point.latitude = MXX_get_f32(p + 4);
        point.longitude = MXX_get_f32(p + 8);
        if (!SurveyPoint::isPosition(point.latitude, point.longitude)) {
            ++r.impossible;
            continue;
        }
        const float altitude = MXX_get_f32(p + 12), doseRate = MXX_get_f32(p + 16);
        if (std::isfinite(altitude))
            point.altitude = altitude;
        if (SurveyPoint::isDoseRate(doseRate))
            point.doseRate = doseRate;
        point.time = MXX_get_u32(p + 20);
        point.cps = MXX_get_u16(p + 24);
        point.satellites = static_cast<uint8_t>(p[26]);
        point.hdop10 = static_cast<uint8_t>(p[27]);
        r.points.push_back(point);
    }
    return r;
}

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
    : m_protocol(protocol), m_connection(connection), m_oldest(std::move(oldest))
{
}

bool SurveyDownload::fetchIndices()
{
    m_indices.assign(kMaxIndices, 0);
    int count = 0;
    bool listed = false;
    for (int attempt = 0; attempt <= kRetries && !listed && !(attempt > 0 && stopped()); ++attempt) {
        listed = m_protocol.txBuffDownload(
            M30_TX_KIND_INDEX_LIST, 0, 1, kMaxIndices, 0, 0, &count, nullptr, nullptr,
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
    return MXX_get_conn_state_id(m_connection) == kConnected;
}

bool SurveyDownload::fetchRecord(uint32_t index, SurveyRecord& record)
{
    char bytes[M30_SURVEY_RECORD_SIZE];
    for (int attempt = 0; attempt <= kRetries && !(attempt > 0 && stopped()); ++attempt) {
        std::fill(std::begin(bytes), std::end(bytes), 0);
        int scratch = 0, total = 0;
        if (m_protocol.txBuffDownload(M30_TX_KIND_RECORD, 0, static_cast<int>(index), 1, 0, 0,
                                      &scratch, nullptr, nullptr, bytes, sizeof bytes, &total)) {
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

SurveyDownload::End SurveyDownload::fetchRecordsAhead(const RecordSeen& seen,
                                                      const std::function<bool()>& idle, int idleMs)
{
    struct Fetched
    {
        int position;
        bool ok;
        SurveyRecord record;
    };
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Fetched> queue;
    bool finished = false;
    End end = End::Complete;
    std::atomic<bool> stop{false};

    std::thread fetcher([&] {
        const End fetched = fetchRecords([&](int position, const SurveyRecord* record) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                queue.push_back({position, record != nullptr, record ? *record : SurveyRecord{}});
            }
            arrived.notify_one();
            return !stop.load();
        });
        {
            std::lock_guard<std::mutex> lock(mutex);
            end = fetched;
            finished = true;
        }
        arrived.notify_one();
    });

    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::milliseconds(idleMs);
    auto lastIdle = Clock::now();
    bool refused = false;
    for (;;) {
        std::deque<Fetched> batch;
        bool done = false;
        {
            std::unique_lock<std::mutex> lock(mutex);
            arrived.wait_for(lock, period, [&] { return !queue.empty() || finished; });
            batch.swap(queue);
            done = finished;
        }
        // Whatever arrived is handled, even after a refusal: nothing fetched is lost.
        for (Fetched& f : batch)
            if (!seen(f.position, f.ok ? &f.record : nullptr))
                refused = true;
        if (Clock::now() - lastIdle >= period) {
            if (idle && !idle())
                refused = true;
            lastIdle = Clock::now();
        }
        if (refused)
            stop = true;
        if (done && batch.empty())
            break;
    }
    fetcher.join();
    return refused && end != End::LinkLost && end != End::InstrumentSilent ? End::Cancelled : end;
}
