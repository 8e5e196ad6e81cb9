// A simulated M30 in-process on loopback and an MXXDevice connected to it,
// with the identity and survey protocols registered as the window does.
#pragma once

#include "sim_session.h"

#include <m17_protocol.h>
#include <m30_protocol.h>
#include <mxx_device.h>

#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

namespace testing {

inline QString tcpString(std::uint16_t port)
{
    return QStringLiteral("tcp:127.0.0.1:%1").arg(port);
}

// The identity query waits only 100 ms: a slow (sanitizer) build may miss
// an answer, so the text is asked for until it comes.
inline QString readSerial(const M17Protocol& m17)
{
    QString text;
    for (int i = 0; i < 5 && text.isEmpty(); ++i)
        text = m17.getSerial();
    return text;
}

// A simulated instrument of `family` in-process on loopback.
inline sim::SimOptions familyOptions(const char* family)
{
    sim::SimOptions o = session::loopback_options();
    o.family = family;
    return o;
}

// The requests of `code` in the instrument's log, oldest first.
inline std::vector<sim::Frame> requestsOf(const sim::Instrument& instrument, std::uint16_t code)
{
    std::vector<sim::Frame> out;
    for (const sim::Frame& f : instrument.received())
        if (f.code == code)
            out.push_back(f);
    return out;
}

class InstrumentSession
{
public:
    explicit InstrumentSession(sim::SimOptions options = session::loopback_options()) : sim(options)
    {
        sim.start();
    }

    sim::Simulator sim;
    MXXDevice device;
    std::shared_ptr<M17Protocol> m17 = std::make_shared<M17Protocol>();
    std::shared_ptr<M30Protocol> m30 = std::make_shared<M30Protocol>();

    std::shared_ptr<sim::Instrument> instrument(std::size_t i = 0) const
    {
        return sim.instruments()[i].instrument;
    }
    const sim::SurveyStore& store(std::size_t i = 0) const { return *sim.instruments()[i].store; }
    QString connString(std::size_t i = 0) const { return tcpString(sim.instruments()[i].port); }

    // Connects to instrument i, waits for identification and registers both
    // protocols; false when any step fails.
    bool connect(std::size_t i = 0)
    {
        return connectDevice(i) && device.registerProtocol(m17) && device.registerProtocol(m30);
    }

    // Connects to instrument i and waits for identification, registering nothing.
    bool connectDevice(std::size_t i = 0)
    {
        QSignalSpy connected(&device, &MXXDevice::connected);
        return device.connect(connString(i)) && connected.wait(5000);
    }

    // Back to the model's answers after a test changed rules.
    void restoreRules(std::size_t i = 0)
    {
        sim.instruments()[i].model->install();
        instrument(i)->clear_rule(8007);
    }

    // Disconnects and waits for the device to say so.
    bool disconnect()
    {
        QSignalSpy disconnected(&device, &MXXDevice::disconnected);
        device.disconnect();
        return disconnected.wait(5000);
    }
};

} // namespace testing
