// Opening and closing a large parameter file in the parameter editor.
//
// Prints "params teardown: ratio <x>": the time to load a 2 MB parameter file
// of distinct keys into the editor as orvisk-params does and close it, once
// shown in a window and once saved again without one, over the time for a
// 1 MB file. Work that grows as the file does gives 2. Lines marked '#' give
// the times behind the ratio.
#include "params_dialog.h"
#include "params_file_tree.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Distinct keys, sorted, with every kind of editor among the values.
QString writeFile(const QTemporaryDir& dir, const QString& name, int bytes)
{
    QByteArray content;
    for (int i = 0; content.size() < bytes; ++i) {
        QByteArray value;
        switch (i % 4) {
        case 0:
            value = QByteArray::number(i);
            break;
        case 1:
            value = QByteArray::number(i) + ".25";
            break;
        case 2:
            value = "0x" + QByteArray::number(i, 16);
            break;
        default:
            value = "walk " + QByteArray::number(i);
            break;
        }
        content +=
            "Params.key" + QByteArray::number(i).rightJustified(7, '0') + " = " + value + '\n';
    }
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

struct Times
{
    double open = 0, close = 0;
    double total() const { return open + close; }
};

// What orvisk-params does for a file: with a window, closed as soon as it has
// been shown, or without one, saving the file again (--save-as).
Times openAndClose(const QString& path, bool window)
{
    auto start = Clock::now();
    const QString title = QFileInfo(path).fileName();
    auto* dialog =
        new ParamsDialog(title, title, ParamsDialog::SaveButton | ParamsDialog::LoadButton);
    auto source = SimpleParamsSerializer::createSerializer(path);
    addFileParams(*dialog, static_cast<ParamsTable&>(*source).values());
    dialog->tree()->loadValues(*source);
    Clock::time_point opened;
    if (window) {
        QTimer::singleShot(0, dialog, [&] {
            opened = Clock::now();
            dialog->accept();
        });
        dialog->exec();
    } else {
        SimpleParamsSerializer target;
        dialog->tree()->saveValues(target);
        if (!target.saveAll(path + QLatin1String(".out")))
            qFatal("%s", qPrintable(target.error()));
        opened = Clock::now();
    }
    delete dialog;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return {std::chrono::duration<double>(opened - start).count(), seconds(opened)};
}

// Both ways, one after the other.
double openAndClose(const QString& path, const char* size)
{
    const Times shown = openAndClose(path, true), saved = openAndClose(path, false);
    std::printf("# %s: window open %.2f s, close %.2f s; saved %.2f s, closed %.2f s\n", size,
                shown.open, shown.close, saved.open, saved.close);
    return shown.total() + saved.total();
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config; // the dialog stores its layout on closing
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);

    QTemporaryDir dir;
    const QString small = writeFile(dir, QStringLiteral("1mb.txt"), 1 << 20);
    const QString large = writeFile(dir, QStringLiteral("2mb.txt"), 2 << 20);
    // What is done once in a program (styles, fonts) stays out of the figures.
    openAndClose(writeFile(dir, QStringLiteral("warm.txt"), 16 << 10), true);

    std::vector<double> ratios;
    const auto start = Clock::now();
    do {
        const double one = openAndClose(small, "1 MB");
        const double two = openAndClose(large, "2 MB");
        ratios.push_back(two / one);
    } while (seconds(start) < 1.0);
    std::sort(ratios.begin(), ratios.end());
    std::printf("params teardown: ratio %.2f\n", ratios[ratios.size() / 2]);
    return 0;
}
