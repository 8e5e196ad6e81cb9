#include "interpolate_dialog.h"

#include <message_dialogs.h>

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QLocale>
#include <QSettings>

#include <cmath>
#include <optional>

namespace {

const QString group = QStringLiteral("Interpolate");

std::optional<double> number(const QLineEdit* edit)
{
    bool ok = false;
    double value = QLocale::c().toDouble(edit->text().trimmed(), &ok);
    if (!ok)
        value = QLocale().toDouble(edit->text().trimmed(), &ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

} // namespace

InterpolateDialog::InterpolateDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Interpolate"));
    auto* form = new QFormLayout(this);
    auto edit = [this, form](const char* name, const QString& label, const QString& text) {
        auto* field = new QLineEdit(text, this);
        field->setObjectName(QLatin1String(name));
        form->addRow(label, field);
        return field;
    };
    // The last values used come back.
    QSettings settings;
    settings.beginGroup(group);
    const RasterOptions defaults;
    auto stored = [&](const char* key, double fallback) {
        return QString::number(settings.value(QLatin1String(key), fallback).toDouble(), 'g', 8);
    };
    projection = edit("edit_projection", QStringLiteral("Projection:"),
                      settings.value(QStringLiteral("projection")).toString());
    projection->setPlaceholderText(QStringLiteral("the map's, or EPSG:32635"));
    cell = edit("edit_cell", QStringLiteral("Cell, m (0: about 1000 across):"),
                stored("cell", defaults.cellSize));
    power = edit("edit_power", QStringLiteral("Power:"), stored("power", defaults.power));
    radius =
        edit("edit_radius", QStringLiteral("Search radius, m:"), stored("radius", defaults.radius));
    mask = edit("edit_mask", QStringLiteral("No value farther from the walk than, m:"),
                stored("mask", defaults.mask));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (check())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

bool InterpolateDialog::check()
{
    RasterOptions options;
    const std::pair<QLineEdit*, double*> fields[] = {{cell, &options.cellSize},
                                                     {power, &options.power},
                                                     {radius, &options.radius},
                                                     {mask, &options.mask}};
    for (const auto& [edit, value] : fields) {
        const std::optional<double> typed = number(edit);
        if (!typed) {
            ui::showCriticalMessage(this, QStringLiteral("Error"),
                                    QStringLiteral("%1 must be a number.")
                                        .arg(static_cast<QFormLayout*>(layout())
                                                 ->labelForField(edit)
                                                 ->property("text")
                                                 .toString()
                                                 .chopped(1)));
            return false;
        }
        *value = *typed;
    }
    options.projection = projection->text().trimmed();
    // The map's projection is checked by the caller, who knows it.
    RasterOptions checked = options;
    if (checked.projection.isEmpty())
        checked.projection = QStringLiteral("EPSG:32635");
    if (const QString problem = rasterOptionsProblem(checked); !problem.isEmpty()) {
        ui::showCriticalMessage(this, QStringLiteral("Error"), problem);
        return false;
    }
    accepted = options;
    QSettings settings;
    settings.beginGroup(group);
    settings.setValue(QStringLiteral("projection"), options.projection);
    settings.setValue(QStringLiteral("cell"), options.cellSize);
    settings.setValue(QStringLiteral("power"), options.power);
    settings.setValue(QStringLiteral("radius"), options.radius);
    settings.setValue(QStringLiteral("mask"), options.mask);
    return true;
}
