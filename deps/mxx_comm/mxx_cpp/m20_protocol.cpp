#include "m20_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;
using mxx_marshal::textAt;

namespace {

constexpr int kM20 = 5;

namespace detail {

constexpr MXX_event_handler M20LiveMeasEvent = recordEvent<kM20, M20_live_meas_data>;

} // namespace detail

const Hook kHooks[] = {
    {9302, detail::M20LiveMeasEvent},
};

} // namespace

M20Protocol::M20Protocol()
{
    qRegisterMetaType<std::shared_ptr<M20_live_meas_data>>("std::shared_ptr<M20_live_meas_data>");
}

void M20Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    hookAll(connection, kHooks);
}

bool M20Protocol::receiveData(QVariant& data)
{
    return emitRecord(this, data, &M20Protocol::spectrumData);
}

bool M20Protocol::getModelRev(M17Protocol::Revision& revision)
{
    uint8_t bytes[4] = {};
    if (M20_get_model_rev(connection(), bytes, 1) != 0)
        return false;
    std::copy(bytes, bytes + 4, revision.byte);
    return true;
}

bool M20Protocol::setModelRev(const M17Protocol::Revision& revision)
{
    return M20_set_model_rev(connection(), revision.byte, 1) == 0;
}
bool M20Protocol::measure(int seconds)
{
    return writeI32(M20_measure, connection(), seconds);
}
bool M20Protocol::getState(int& state)
{
    return readI32(M20_get_state, connection(), state);
}
bool M20Protocol::setState(int state)
{
    return writeI32(M20_set_state, connection(), state);
}
bool M20Protocol::setEvents(int mask)
{
    return writeI32(M20_set_events, connection(), mask);
}
bool M20Protocol::getParams(M20_params& params)
{
    return readRecord(M20_get_params, connection(), params);
}
bool M20Protocol::setParams(const M20_params& params)
{
    return writeRecord(M20_set_params, connection(), params);
}
bool M20Protocol::getStatus(M20_status& status)
{
    return readRecord(M20_get_status, connection(), status);
}

bool M20Protocol::getLogList(QVector<uint>& ids)
{
    return readIdList<M20_log_list>(M20_get_log_list, connection(), ids);
}

bool M20Protocol::getLogEntry(int id, M20_log_entry& entry)
{
    return readEntry(M20_get_log_entry, connection(), id, entry);
}
bool M20Protocol::clearLogs()
{
    return run(M20_clear_logs, connection());
}
bool M20Protocol::deleteLogEntry(int id)
{
    return writeI32(M20_delete_log_entry, connection(), id);
}
bool M20Protocol::getMemoryUsage(M20_memory_usage& usage)
{
    return readRecord(M20_get_memory_usage, connection(), usage);
}
bool M20Protocol::getNoteInfo(int& notes)
{
    return readI32(M20_get_note_info, connection(), notes);
}

bool M20Protocol::getNote(int index, QString& text)
{
    M20_note note;
    if (!readEntry(M20_get_note, connection(), index, note))
        return false;
    text = textAt(note.bytes, sizeof note.bytes);
    return true;
}

bool M20Protocol::writeFile(const QString& name, const QByteArray& data)
{
    return writeNamedFile(M20_write_file, connection(), name, data);
}
bool M20Protocol::readFile(const QString& name, QByteArray& data, int limit)
{
    return readNamedFile(M20_read_file, connection(), name, data, limit);
}
