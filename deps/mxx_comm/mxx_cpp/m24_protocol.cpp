#include "m24_protocol.h"

#include "family_support.h"

namespace {

using namespace mxx_marshal;

// Our own table of the M24 models by the number its status reports.
const char* const kModelNames[] = {"M24", "M24 MCA", "M24 MCA-Plus"};

} // namespace

MXX_DEFINE_EVENTS(M24)

QString M24Protocol::getModelName(int model)
{
    return modelName(kModelNames, "M24", model);
}

bool M24Protocol::test(M24_test_data& data)
{
    const M24_test_data sent = data;
    return M24_test(connection(), sent.bytes, data.bytes, 1) == 0;
}

#define MXX_METHODS_FAMILY M24
#define MXX_METHODS_OWNER M24Protocol
#define M24_COMMAND MXX_NO_METHOD
#define M24_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m24_commands.def>
#undef M24_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

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
