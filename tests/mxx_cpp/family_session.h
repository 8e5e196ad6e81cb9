// A simulated instrument of one family in-process on loopback, and an
// MXXDevice connected to it with the family's protocol object registered.
#pragma once

#include "sim_session.h"

#include <mxx_device.h>

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace testing {

inline sim::SimOptions familyOptions(const char* family, double eventsHz = 0)
{
    sim::SimOptions o = session::loopback_options();
    o.family = family;
    o.records = 1;
    o.events_hz = eventsHz;
    return o;
}

template <class P> class FamilySession
{
public:
    explicit FamilySession(const char* family, double eventsHz = 0)
        : sim(familyOptions(family, eventsHz))
    {
        sim.start();
    }

    sim::Simulator sim;
    MXXDevice device;
    std::shared_ptr<P> protocol = std::make_shared<P>();

    sim::Instrument& instrument() const { return *sim.instruments()[0].instrument; }

    // Connects, waits for identification and registers the protocol.
    bool connect()
    {
        QSignalSpy connected(&device, &MXXDevice::connected);
        if (!device.connect(QStringLiteral("tcp:127.0.0.1:%1").arg(sim.instruments()[0].port)))
            return false;
        return connected.wait(5000) && device.registerProtocol(protocol);
    }

    // The payload of the latest request of `code` the instrument took.
    sim::Bytes sent(std::uint16_t code) const
    {
        auto f = instrument().last_request(code);
        return f ? f->payload : sim::Bytes{};
    }
    // The time-out the host put in that request's parameter word.
    int timeoutOf(std::uint16_t code) const
    {
        auto f = instrument().last_request(code);
        return f ? f->param : -1;
    }

    // Sends event frames as the instrument would.
    void push(std::vector<sim::Frame> frames)
    {
        sim.server().push(instrument(), std::move(frames));
    }
};

} // namespace testing
