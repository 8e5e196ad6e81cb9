// orvisk-params FILE [--save-as OUT]: the parameter editor on its own, for one
// parameter file.
#include "params_dialog.h"
#include "params_file_tree.h"
#include "params_serializers.h"

#include <QApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdlib>
#include <cstring>

namespace {

const char usage[] =
    "usage: orvisk-params FILE [--save-as OUT]\n"
    "Opens the parameter editor for the parameter file FILE.\n"
    "  --save-as OUT  load FILE into the editor and save it to OUT, with no window\n";

void fail(const QString& message)
{
    QTextStream(stderr) << "orvisk-params: " << message << '\n';
}

} // namespace

int main(int argc, char* argv[])
{
    QString file, saveAs;
    bool saving = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--save-as") == 0 && i + 1 < argc) {
            saving = true;
            saveAs = QString::fromLocal8Bit(argv[++i]);
        } else if (file.isEmpty() && argv[i][0] != '-') {
            file = QString::fromLocal8Bit(argv[i]);
        } else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (file.isEmpty() || (saving && saveAs.isEmpty())) {
        std::fputs(usage, stderr);
        return 2;
    }
    // Saving shows no window, so it needs no display.
    if (saving && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Korvenix"));
    QApplication::setOrganizationDomain(QStringLiteral("korvenix.example"));
    QApplication::setApplicationName(QStringLiteral("Orvisk"));

    QFileInfo info(file);
    if (!info.isFile() || !info.isReadable()) {
        fail(QStringLiteral("cannot read %1").arg(file));
        return 1;
    }
    auto source = SimpleParamsSerializer::createSerializer(file);
    if (const QString problem = source->error(); !problem.isEmpty()) {
        fail(problem);
        return 1;
    }
    ParamsDialog dialog(info.fileName(), info.fileName(),
                        ParamsDialog::SaveButton | ParamsDialog::LoadButton);
    addFileParams(dialog, static_cast<ParamsTable&>(*source).values());
    dialog.tree()->loadValues(*source);

    if (saving) {
        SimpleParamsSerializer target;
        dialog.tree()->saveValues(target);
        if (!target.saveAll(saveAs)) {
            fail(target.error());
            return 1;
        }
        return 0;
    }
    dialog.exec();
    return 0;
}
