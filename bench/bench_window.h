// What the benchmarks that drive the main window share: a window of their
// own (offscreen, settings in a folder of its own), the period dialog
// answered with ALL, a connection to a simulated instrument, and standard
// output kept from the window's trace lines while they measure.
#pragma once

#include <download_dialog.h>
#include <main_window.h>
#include <mxx_device.h>
#include <mxx_family_id.h>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace bench {

// Before the application is made: offscreen, with the window's settings in
// `config`, never the user's.
inline void useOffscreenWindow(const QTemporaryDir& config)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
}

inline void answerPeriodDialogWithAll()
{
    auto* timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer] {
        auto* dialog = qobject_cast<DownloadDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        dialog->findChild<QRadioButton*>("radioButton")->setChecked(true);
        dialog->findChild<QPushButton*>("btn_start")->click();
    });
    timer->start();
}

// The instrument on `port` as the one the next window connects to.
inline void useInstrument(uint16_t port)
{
    QSettings().setValue("ConnectionString", QStringLiteral("tcp:127.0.0.1:%1").arg(port));
}

// Connect pressed; true once the instrument is an M30.
inline bool connectWindow(MainWindow& window)
{
    window.findChild<QPushButton*>("btnConnect")->click();
    for (int i = 0; i < 500 && window.device()->type() != MXX_TYPE_M30; ++i)
        QTest::qWait(10);
    return window.device()->type() == MXX_TYPE_M30;
}

// Standard output goes to /dev/null while this lives: the window prints a
// line per record.
class QuietStdout
{
public:
    QuietStdout() : saved(dup(1)), null(open("/dev/null", O_WRONLY))
    {
        std::fflush(stdout);
        dup2(null, 1);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        dup2(saved, 1);
        close(null);
        close(saved);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved, null;
};

} // namespace bench
