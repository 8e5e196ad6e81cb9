#include "m21_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;
using mxx_marshal::putText;

namespace {

constexpr int kM21 = 10;

namespace detail {

constexpr MXX_event_handler M21LiveMeasEvent = recordEvent<kM21, M21_live_meas_data>;

} // namespace detail

const Hook kHooks[] = {
    {9302, detail::M21LiveMeasEvent},
};

} // namespace

M21Protocol::M21Protocol()
{
    qRegisterMetaType<std::shared_ptr<M21_live_meas_data>>("std::shared_ptr<M21_live_meas_data>");
}

void M21Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    hookAll(connection, kHooks);
}

bool M21Protocol::receiveData(QVariant& data)
{
    return emitRecord(this, data, &M21Protocol::spectrumData);
}

bool M21Protocol::getScreen(M21_screen& screen)
{
    return readRecord(M21_get_screen, connection(), screen);
}
bool M21Protocol::getState(int& state)
{
    return readI32(M21_get_state, connection(), state);
}
bool M21Protocol::setState(int state)
{
    return writeI32(M21_set_state, connection(), state);
}
bool M21Protocol::getParams(M21_params& params)
{
    return readRecord(M21_get_params, connection(), params);
}
bool M21Protocol::setParams(const M21_params& params)
{
    return writeRecord(M21_set_params, connection(), params);
}
bool M21Protocol::getStatus(M21_status& status)
{
    return readRecord(M21_get_status, connection(), status);
}

bool M21Protocol::getLogList(QVector<uint>& ids)
{
    return readIdList<M21_log_list>(M21_get_log_list, connection(), ids);
}

bool M21Protocol::getLogEntry(int id, M21_log_entry& entry)
{
    return readEntry(M21_get_log_entry, connection(), id, entry);
}
bool M21Protocol::clearLogs()
{
    return run(M21_clear_logs, connection());
}
bool M21Protocol::deleteLogEntry(int id)
{
    return writeI32(M21_delete_log_entry, connection(), id);
}
bool M21Protocol::getMemoryUsage(M21_memory_usage& usage)
{
    return readRecord(M21_get_memory_usage, connection(), usage);
}
bool M21Protocol::writeFile(const QString& name, const QByteArray& data)
{
    return writeNamedFile(M21_write_file, connection(), name, data);
}
bool M21Protocol::readFile(const QString& name, QByteArray& data, int limit)
{
    return readNamedFile(M21_read_file, connection(), name, data, limit);
}

bool M21Protocol::getFileInfo(const QString& name, int& size, QDateTime& changed)
{
    if (name.toUtf8().size() > M20_FILE_NAME)
        return false;
    uint8_t request[M20_FILE_NAME], answer[40] = {};
    putText(request, sizeof request, name);
    if (M21_get_file_info(connection(), request, answer, 1) != 0)
        return false;
    size = static_cast<int>(MXX_get_u32(answer + 32));
    changed = QDateTime::fromSecsSinceEpoch(MXX_get_u32(answer + 36), Qt::UTC);
    return true;
}
