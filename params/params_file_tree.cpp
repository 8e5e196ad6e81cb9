#include "params_file_tree.h"

#include "params_dialog.h"
#include "params_serializers.h"

#include <QRegularExpression>

#include <climits>

namespace {

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

} // namespace

// A key with an empty part between dots cannot be named by sections and
// stays whole at the top level.
void addFileParams(ParamsDialog& dialog, const QHash<QString, QString>& values)
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
