#include "m24_protocol.h"

#include "protocol_bytes.h"
#include "protocol_events.h"

namespace {

using namespace mxx_marshal;

constexpr int kM24 = 8;

// Our own table of the M24 models by the number its status reports.
const char* const kModelNames[] = {"M24", "M24 MCA", "M24 MCA-Plus"};

namespace detail {

constexpr MXX_event_handler M24SpectrumEvent = mxx_events::recordEvent<kM24, M24_mca_spect>;

} // namespace detail

const mxx_events::Hook kHooks[] = {{M24_SPECTRUM_EVENT, detail::M24SpectrumEvent}};

} // namespace

M24Protocol::M24Protocol()
{
    mxx_events::registerRecord<M24_mca_spect>("std::shared_ptr<M24_mca_spect>");
}

void M24Protocol::bind(int connection, QThread* thread)
{
    Protocol::bind(connection, thread);
    mxx_events::hookAll(connection, kHooks);
}

bool M24Protocol::receiveData(QVariant& data)
{
    return mxx_events::emitRecord(this, data, &M24Protocol::spectrumData);
}

QString M24Protocol::getModelName(int model)
{
    return modelName(kModelNames, "M24", model);
}

bool M24Protocol::test(M24_test_data& data)
{
    const M24_test_data sent = data;
    return M24_test(connection(), sent.bytes, data.bytes, 1) == 0;
}

bool M24Protocol::getStatus(M24_status& status)
{
    return M24_get_status(connection(), status.bytes, 1) == 0;
}

bool M24Protocol::getParams(M24_params& params)
{
    return M24_get_params(connection(), params.bytes, 1) == 0;
}

bool M24Protocol::setParams(const M24_params& params)
{
    return M24_set_params(connection(), params.bytes, 1) == 0;
}

bool M24Protocol::getMcaParams(M24_mca_params& params)
{
    return M24_get_mca_params(connection(), params.bytes, 1) == 0;
}

bool M24Protocol::setMcaParams(const M24_mca_params& params)
{
    return M24_set_mca_params(connection(), params.bytes, 1) == 0;
}

bool M24Protocol::readMemory(uint32_t address, uint32_t length, QByteArray& data)
{
    return readInto(data, length, [&](char* to, uint32_t* got) {
        return M24_read_memory(connection(), address, to, length, got, 1);
    });
}

bool M24Protocol::writeMemory(uint32_t address, const QByteArray& data)
{
    return M24_write_memory(connection(), address, data.constData(),
                            static_cast<uint32_t>(data.size()), 1) == 0;
}

bool M24Protocol::dataBuffRead(uint32_t item, uint32_t argument1, uint32_t argument2,
                               uint32_t maxLength, QByteArray& data)
{
    return readInto(data, maxLength, [&](char* to, uint32_t* got) {
        return M24_data_buff_read(connection(), item, argument1, argument2, to, maxLength, got, 1);
    });
}

bool M24Protocol::dataBuffWrite(uint32_t item, uint32_t argument1, uint32_t argument2,
                                const QByteArray& data)
{
    return M24_data_buff_write(connection(), item, argument1, argument2, data.constData(),
                               static_cast<uint32_t>(data.size()), 1) == 0;
}
