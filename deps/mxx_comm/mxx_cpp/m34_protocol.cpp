#include "m34_protocol.h"

#include "family_support.h"

MXX_DEFINE_EVENTS(M34)

#define MXX_METHODS_FAMILY M34
#define MXX_METHODS_OWNER M34Protocol
#define M34_COMMAND MXX_NO_METHOD
#define M34_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m34_commands.def>
#undef M34_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M34Protocol::savePallet(const M34_pallet& pallet, int& id)
{
    mxx_marshal::Word answer{};
    static_assert(MXX_RESPONSE_SIZE(M34, save_pallet) == sizeof answer, "the pallet's id");
    return mxx_marshal::intAnswer(M34_save_pallet(connection(), pallet.bytes, answer.data(), 1),
                                  answer, id);
}

bool M34Protocol::setCurrentHole(int hole, const QString& name)
{
    uint8_t request[M34_HOLE_SIZE];
    MXX_put_u32(request, static_cast<uint32_t>(hole));
    mxx_marshal::putText(request + 4, M34_HOLE_SIZE - 4, name);
    return M34_set_current_hole(connection(), request, 1) == 0;
}
