#include "instrument_cli.h"

#include <mxx_device.h>
#include <mxx_families.h>
#include <mxx_family_id.h>

#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace instrument_cli {

std::atomic<bool> interrupted{false};

namespace {

constexpr int kIdentifyMs = 15000; // identification tries for a few seconds at most

void onInterrupt(int)
{
    interrupted = true;
}

// Waits for the device to tell how the connection went; false on an error,
// a close or no word within kIdentifyMs.
bool waitIdentified(MXXDevice& device)
{
    QEventLoop loop;
    bool identified = false;
    QObject::connect(&device, &MXXDevice::connected, &loop, [&] {
        identified = true;
        loop.quit();
    });
    QObject::connect(&device, &MXXDevice::connectionError, &loop, &QEventLoop::quit);
    QObject::connect(&device, &MXXDevice::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(kIdentifyMs, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (interrupted)
            loop.quit();
    });
    poll.start(50);
    loop.exec();
    return identified;
}

} // namespace

void catchInterrupts()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QString printable(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void say(const QString& text)
{
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

int usageError(const char* program, const QString& error, const char* usage)
{
    std::fprintf(stderr, "%s: %s\n%s", program, printable(error).toLocal8Bit().constData(), usage);
    return 1;
}

Connection connectInstrument(MXXDevice& device, const QString& connection)
{
    for (bool mvd : {false, true}) {
        const bool opened = mvd ? device.connect(connection, MVD_probe, MVD_test_probe)
                                : device.connect(connection);
        if (!opened)
            return Connection::CannotOpen;
        if (waitIdentified(device) && device.type() != 0)
            return Connection::Identified;
        if (interrupted)
            return Connection::Interrupted;
    }
    return Connection::NoAnswer;
}

QString familyName(int type)
{
    const char* name = MXX_family_name(type);
    return name ? QString::fromLatin1(name)
                : QStringLiteral("an unknown family (type %1)").arg(type);
}

} // namespace instrument_cli
