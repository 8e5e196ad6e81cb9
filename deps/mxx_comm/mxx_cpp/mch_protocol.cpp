#include "mch_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;
using mxx_marshal::putText;
using mxx_marshal::textAt;

namespace {

namespace detail {

int MCHMessageEvent(int, char*, MXX_frame* frame, void* user)
{
    auto message = std::make_shared<MCH_message>();
    message->text = textAt(
        frame->payload, static_cast<size_t>(std::min(payloadSize(frame), int(MCH_MESSAGE_SIZE))));
    post(user, MXX_TYPE_MCH, message);
    return 0;
}

} // namespace detail

} // namespace

MXX_DEFINE_EVENTS(MCH)

MCHProtocol::MCHProtocol()
{
    registerEventTypes();
    qRegisterMetaType<std::shared_ptr<MCH_message>>("std::shared_ptr<MCH_message>");
}

bool MCHProtocol::takeMessage(QVariant& data)
{
    if (!data.canConvert<std::shared_ptr<MCH_message>>())
        return false;
    const auto item = data.value<std::shared_ptr<MCH_message>>();
    emit message(item ? item->text : QString());
    return true;
}

bool MCHProtocol::sendMessage(QString text)
{
    uint8_t field[MCH_MESSAGE_SIZE];
    putText(field, sizeof field, text);
    return MCH_send_msg(connection(), field, 0) == 0;
}
