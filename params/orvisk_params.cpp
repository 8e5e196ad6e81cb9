// orvisk-params FILE [--save-as OUT]: the parameter editor on its own, for one
// parameter file.
#include "params_dialog.h"

#include <QApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

const char usage[] =
    "usage: orvisk-params FILE [--save-as OUT]\n"
    "Opens the parameter editor for the parameter file FILE.\n"
    "  --save-as OUT  load FILE into the editor and save it to OUT, with no window\n";

// Whole numbers and decimals get spin boxes, but only when the spin box gives
// the text back exactly as it stands; any other value stays text.
void addEditor(ParamsDialog& dialog, const QString& name, const QString& value)
{
    static const QRegularExpression whole(QStringLiteral("^-?[0-9]+$"));
    static const QRegularExpression decimal(QStringLiteral("^-?[0-9]+\\.([0-9]+)$"));
    static const QRegularExpression hex(QStringLiteral("^0([xX])([0-9A-Fa-f]+)$"));
    constexpr double decimalLimit = 1e9;

    bool ok = false;
    if (whole.match(value).hasMatch()) {
        int number = value.toInt(&ok);
        if (ok && QString::number(number) == value) {
            dialog.addParam(name, name, QVariant(number), QVariant(INT_MIN), QVariant(INT_MAX), 0);
            return;
        }
    }
    if (auto match = decimal.match(value); match.hasMatch()) {
        double number = value.toDouble(&ok);
        if (ok && qAbs(number) < decimalLimit && QVariant(number).toString() == value) {
            dialog.addParam(name, name, QVariant(number), QVariant(-decimalLimit),
                            QVariant(decimalLimit), match.capturedLength(1));
            return;
        }
    }
    if (auto match = hex.match(value); match.hasMatch()) {
        // Room for a 32-bit value, or for as many digits as there are.
        const int digits = qMax(8, match.capturedLength(2));
        const QString mask = QLatin1String("\\0\\") + match.captured(1) + QString(digits, 'h');
        dialog.addParam(name, name, value, mask);
        return;
    }
    dialog.addParam(name, name, value, QString());
}

// One section per dotted key prefix. A key with an empty part between dots
// cannot be named by sections and stays whole at the top level.
void buildTree(ParamsDialog& dialog, const QHash<QString, QString>& values)
{
    QStringList keys = values.keys();
    keys.sort(Qt::CaseSensitive);
    QStringList open;
    for (const QString& key : keys) {
        QStringList sections = key.split(QLatin1Char('.'));
        QString name = sections.takeLast();
        if (sections.contains(QString(""))) {
            sections.clear();
            name = key;
        }
        int common = 0;
        while (common < open.size() && common < sections.size() && open[common] == sections[common])
            ++common;
        while (open.size() > common) {
            dialog.up();
            open.removeLast();
        }
        while (open.size() < sections.size()) {
            const QString section = sections[open.size()];
            dialog.addSection(section, section, true);
            open << section;
        }
        addEditor(dialog, name, values.value(key));
        if (!SimpleParamsSerializer::isWritten(key))
            dialog.readOnly();
    }
}

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
    ParamsDialog dialog(info.fileName(), info.fileName(),
                        ParamsDialog::SaveButton | ParamsDialog::LoadButton);
    buildTree(dialog, static_cast<ParamsTable&>(*source).values());
    dialog.tree()->loadValues(*source);

    if (saving) {
        SimpleParamsSerializer target;
        dialog.tree()->saveValues(target);
        if (!target.saveAll(saveAs)) {
            fail(QStringLiteral("cannot write %1").arg(saveAs));
            return 1;
        }
        return 0;
    }
    dialog.exec();
    return 0;
}
