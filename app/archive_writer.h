// Writes a download's records into the archive on a thread of its own, in a
// transaction per batch, while the download goes on: neither the window nor
// the exchanges wait on the disk.
#pragma once

#include "survey_archive.h"
#include "survey_download.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class ArchiveWriter
{
public:
    // Starts the download's row; ok() tells whether it could be written.
    ArchiveWriter(SurveyArchive& archive, DownloadInfo& info);
    ~ArchiveWriter();
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    bool ok() const;
    qint64 download() const { return m_download; }

    // Any thread; the record is written soon after.
    void add(int position, SurveyRecord record);
    // Writes what is queued and the download's counts; false with error()
    // when any of it could not be written (what was written before stays).
    bool finish(const DownloadInfo& info);
    QString error() const;

private:
    void run();

    SurveyArchive& m_archive;
    qint64 m_download = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<std::pair<int, SurveyRecord>> m_queue;
    bool m_closing = false;
    bool m_failed = false;
    QString m_error;
    std::thread m_thread;
};

// A download's row once its index list came (the instrument is identified
// by then), and its counts once it ended.
// `family` is the instrument's MXX_TYPE_... .
DownloadInfo startedDownload(const SurveyDownload& run, const QString& connection, int family);
void endedDownload(DownloadInfo& info, const SurveyDownload& run);
