#include "mch_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;
using mxx_marshal::putText;
using mxx_marshal::textAt;

namespace {

constexpr int kMCH = 254;

namespace detail {

int MCHMessageEvent(int, char*, MXX_frame* frame, void* user)
{
    auto message = std::make_shared<MCH_message>();
    message->text = textAt(
        frame->payload, static_cast<size_t>(std::min(payloadSize(frame), int(MCH_MESSAGE_SIZE))));
    post(user, kMCH, message);
    return 0;
}

} // namespace detail

const Hook kHooks[] = {
    {48878, detail::MCHMessageEvent},
};

} // namespace

MCHProtocol::MCHProtocol()
{
    qRegisterMetaType<std::shared_ptr<MCH_message>>("std::shared_ptr<MCH_message>");
}

void MCHProtocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    hookAll(connection, kHooks);
}

bool MCHProtocol::receiveData(QVariant& data)
{
    if (!data.canConvert<std::shared_ptr<MCH_message>>())
        return false;
    const auto m = data.value<std::shared_ptr<MCH_message>>();
    emit message(m ? m->text : QString());
    return true;
}

bool MCHProtocol::sendMessage(QString msg)
{
    uint8_t field[MCH_MESSAGE_SIZE];
    putText(field, sizeof field, msg);
    return MCH_send_msg(connection(), field, 0) == 0;
}
