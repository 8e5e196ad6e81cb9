#include "settings_dialog.h"

#include "map_settings.h"
#include "message_dialogs.h"
#include "ui_settings_dialog.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLocale>

#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr int steps = 5;
const char* const buttonStyle = "padding: 5px;Text-align:left;";

// A number as the surveyor may type it: "12.2", or with the desktop's decimal comma.
std::optional<double> parseNumber(const QString& text)
{
    bool ok = false;
    double value = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok)
        value = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

bool holdsMap(const QString& folder)
{
    const QDir dir(folder);
    for (const char* name : {"map.png", "map.pgw", "map.ppr"})
        if (!QFileInfo(dir.filePath(QLatin1String(name))).isFile())
            return false;
    return true;
}

} // namespace

SettingsDialog::SettingsDialog(QString mapFolder, float trackRadius, QList<float> thresholds,
                               QList<QColor> colors, QWidget* parent)
    : QDialog(parent), ui(new Ui_SettingsDialog), colors(std::move(colors)),
      thresholds(std::move(thresholds)), trackRadius(trackRadius), mapFolder(std::move(mapFolder))
{
    ui->setupUi(this);
    ui->btn_map->setIcon(QIcon(QStringLiteral(":/icons/folder.png")));
    ui->btn_map->setStyleSheet(QString::fromLatin1(buttonStyle));
    const QList<QPushButton*> colorButtons = {ui->btn_color1, ui->btn_color2, ui->btn_color3,
                                              ui->btn_color4, ui->btn_color5};
    for (QPushButton* button : colorButtons) {
        button->setIcon(QIcon(QStringLiteral(":/icons/bucket.png")));
        button->setStyleSheet(QString::fromLatin1(buttonStyle));
    }

    const QList<QLabel*> labels = {ui->label_color1, ui->label_color2, ui->label_color3,
                                   ui->label_color4, ui->label_color5};
    const QList<QLineEdit*> edits = {ui->edit_color1, ui->edit_color2, ui->edit_color3,
                                     ui->edit_color4, ui->edit_color5};
    for (int n = 0; n < steps; ++n) {
        if (this->colors.size() > n)
            setLabelColor(labels[n], this->colors[n]);
        if (this->thresholds.size() > n)
            edits[n]->setText(QString::number(double(this->thresholds[n]), 'g', 6));
        shownColors.append(this->colors.size() > n ? this->colors[n] : QColor(Qt::white));
    }
    ui->edit_map->setText(this->mapFolder);
    ui->edit_radius->setText(QString::number(double(this->trackRadius), 'g', 6));

    // The checks' limits, in two rows between the files and the colour steps.
    auto* checks = new QGroupBox(tr("Survey checks"), this);
    checks->setToolTip(tr("Points beyond these limits are flagged"));
    auto* grid = new QGridLayout(checks);
    for (int n = 0; n < int(std::size(checkLimitFields)); ++n) {
        const CheckLimitField& field = checkLimitFields[n];
        auto* edit = new QLineEdit(checks);
        edit->setObjectName(QStringLiteral("edit_") + QLatin1String(field.key));
        edit->setMaximumWidth(90);
        grid->addWidget(new QLabel(tr(field.label), checks), n / 3, 2 * (n % 3), Qt::AlignRight);
        grid->addWidget(edit, n / 3, 2 * (n % 3) + 1);
        limitEdits.append(edit);
    }
    static_cast<QBoxLayout*>(layout())->insertWidget(layout()->count() - 1, checks);
    setCheckLimits(CheckLimits());
}

void SettingsDialog::setCheckLimits(const CheckLimits& limits)
{
    acceptedLimits = limits;
    for (int n = 0; n < limitEdits.size(); ++n)
        limitEdits[n]->setText(QString::number(checkLimitFields[n].get(limits), 'g', 6));
}

SettingsDialog::~SettingsDialog()
{
    delete ui;
}

void SettingsDialog::setLabelColor(QLabel* label, QColor color)
{
    label->setStyleSheet(QStringLiteral("background:rgb(%1,%2,%3)")
                             .arg(color.red())
                             .arg(color.green())
                             .arg(color.blue()));
}

QString SettingsDialog::mapSource() const
{
    return ui->edit_map->text();
}

void SettingsDialog::setArchive(const QString& path, const QString& defaultPath)
{
    ui->edit_archive->setPlaceholderText(defaultPath);
    ui->edit_archive->setText(path);
}

QString SettingsDialog::archivePath() const
{
    return ui->edit_archive->text().trimmed();
}

void SettingsDialog::setTeamDatabase(const QString& connection)
{
    ui->edit_team->setPlaceholderText(QStringLiteral("PG:host=... dbname=... user=..."));
    ui->edit_team->setText(connection);
}

QString SettingsDialog::teamDatabase() const
{
    return ui->edit_team->text().trimmed();
}

void SettingsDialog::on_btn_map_clicked()
{
    const QString folder = ui::chooseDirectory(this, tr("Open Directory"));
    if (!folder.isEmpty())
        ui->edit_map->setText(folder);
}

void SettingsDialog::on_btn_color1_clicked()
{
    changeColor(1);
}

void SettingsDialog::on_btn_color2_clicked()
{
    changeColor(2);
}

void SettingsDialog::on_btn_color3_clicked()
{
    changeColor(3);
}

void SettingsDialog::on_btn_color4_clicked()
{
    changeColor(4);
}

void SettingsDialog::on_btn_color5_clicked()
{
    changeColor(5);
}

void SettingsDialog::changeColor(int step)
{
    // The chooser starts from the colour this dialog was opened with.
    const QColor start = colors.size() >= step ? colors[step - 1] : QColor(255, 255, 255, 255);
    const QColor color = ui::chooseColor(start, this, tr("Choose a color"));
    if (!color.isValid())
        return;
    const QList<QLabel*> labels = {ui->label_color1, ui->label_color2, ui->label_color3,
                                   ui->label_color4, ui->label_color5};
    setLabelColor(labels[step - 1], color);
    shownColors[step - 1] = color;
}

bool SettingsDialog::checkInput()
{
    const std::optional<double> radius = parseNumber(ui->edit_radius->text());
    if (!radius || *radius < 0 || *radius > maxTrackRadius) {
        ui::showCriticalMessage(
            tr("Track radius must be a number from 0 to %1.").arg(maxTrackRadius));
        return false;
    }
    const QList<QLineEdit*> edits = {ui->edit_color1, ui->edit_color2, ui->edit_color3,
                                     ui->edit_color4, ui->edit_color5};
    QList<float> values;
    for (int n = 0; n < steps; ++n) {
        const std::optional<double> value = parseNumber(edits[n]->text());
        if (!value || std::abs(*value) > std::numeric_limits<float>::max()) {
            ui::showCriticalMessage(tr("Threshold %1 must be a number.").arg(n + 1));
            return false;
        }
        values.append(float(*value));
        // Each step starts where the one below it ends.
        if (n > 0 && !(values[n] > values[n - 1])) {
            ui::showCriticalMessage(
                tr("Threshold %1 must be above threshold %2.").arg(n + 1).arg(n));
            return false;
        }
    }
    if (mapSource() != mapFolder && !holdsMap(mapSource())) {
        ui::showCriticalMessage(
            tr("Map source must be a folder holding map.png, map.pgw and map.ppr."));
        return false;
    }
    CheckLimits limits;
    for (int n = 0; n < limitEdits.size(); ++n) {
        const CheckLimitField& field = checkLimitFields[n];
        const std::optional<double> value = parseNumber(limitEdits[n]->text());
        if (!value || !field.allows(*value)) {
            ui::showCriticalMessage(tr("%1 must be a%2 number from %3 to %4.")
                                        .arg(tr(field.label))
                                        .arg(field.whole ? tr(" whole") : QString())
                                        .arg(field.low)
                                        .arg(field.high));
            return false;
        }
        field.set(limits, *value);
    }
    acceptedRadius = *radius;
    acceptedThresholds = values;
    acceptedLimits = limits;
    return true;
}

void SettingsDialog::on_btn_ok_clicked()
{
    if (checkInput())
        accept();
}

void SettingsDialog::on_btn_cancel_clicked()
{
    reject();
}
