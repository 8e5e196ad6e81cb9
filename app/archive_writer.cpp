#include "archive_writer.h"

#include <mxx_family_id.h>

ArchiveWriter::ArchiveWriter(SurveyArchive& archive, DownloadInfo& info) : m_archive(archive)
{
    m_download = archive.beginDownload(info);
    if (m_download == 0) {
        m_failed = true;
        m_error = archive.lastError();
        return;
    }
    m_thread = std::thread([this] { run(); });
}

ArchiveWriter::~ArchiveWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

bool ArchiveWriter::ok() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_failed;
}

QString ArchiveWriter::error() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

void ArchiveWriter::add(int position, SurveyRecord record)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failed)
            return;
        m_queue.emplace_back(position, std::move(record));
    }
    m_wake.notify_one();
}

void ArchiveWriter::run()
{
    std::vector<std::pair<int, SurveyRecord>> batch;
    std::vector<SurveyArchive::Arrival> arrivals;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
            if (m_queue.empty())
                return;
            batch.swap(m_queue);
        }
        arrivals.clear();
        for (const auto& [position, record] : batch)
            arrivals.push_back({position, &record});
        const bool written = m_archive.addRecords(m_download, arrivals);
        batch.clear();
        if (!written) {
            // A failing archive is left alone for the rest of the download;
            // the records written before stay.
            std::lock_guard<std::mutex> lock(m_mutex);
            m_failed = true;
            m_error = m_archive.lastError();
            m_queue.clear();
        }
    }
}

bool ArchiveWriter::finish(const DownloadInfo& info)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closing = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    if (m_download == 0)
        return false;
    // The counts are written even after a failed batch: they say what is missing.
    if (!m_archive.finishDownload(m_download, info)) {
        if (!m_failed)
            m_error = m_archive.lastError();
        m_failed = true;
    }
    return !m_failed;
}

DownloadInfo startedDownload(const SurveyDownload& run, const QString& connection, int family)
{
    DownloadInfo info;
    const char* name = MXX_family_name(family);
    info.family = QString::fromLatin1(name ? name : MXX_family_name(MXX_TYPE_M30));
    info.serial = run.serial();
    info.versions = run.versions();
    info.connection = connection;
    info.downloaded = QDateTime::currentDateTimeUtc();
    info.periodFrom = run.oldest().toUTC();
    info.listed = static_cast<int>(run.indices().size());
    return info;
}

void endedDownload(DownloadInfo& info, const SurveyDownload& run)
{
    info.fetched = run.inPeriod();
    info.missing = static_cast<int>(run.missing().size());
    info.missingIndices = run.missing();
}
