#include "download_dialog.h"

#include "ui_download_dialog.h"

#include <QIcon>
#include <QSettings>

namespace {

const int kMinHours = 1;
const int kMaxHours = 24;
const int kMinDays = 1;
const int kMaxDays = 365;

const QString kPeriodKey = QStringLiteral("LastPeriod");
const QString kHoursKey = QStringLiteral("LastHours");
const QString kDaysKey = QStringLiteral("LastDays");

// One arrow press: only on the selected row, and only on a number.
void step(const QRadioButton* row, QLineEdit* edit, int delta, int min, int max)
{
    if (!row->isChecked())
        return;
    bool ok = false;
    int value = edit->text().toInt(&ok, 10);
    if (!ok)
        return;
    edit->setText(QString::number(qBound(min, value + delta, max)));
}

int count(const QLineEdit* edit, int min, int max)
{
    return qBound(min, edit->text().toInt(), max);
}

} // namespace

QDateTime DownloadPeriod::oldest(const QDateTime& now) const
{
    switch (kind) {
    case Kind::Hours:
        return now.addSecs(-3600LL * count);
    case Kind::Days:
        return now.addDays(-count);
    case Kind::All:
        break;
    }
    return QDateTime();
}

DownloadDialog::DownloadDialog(QWidget* parent) : QDialog(parent), ui(new Ui_DownloadDialog)
{
    ui->setupUi(this);
    const QIcon left(QStringLiteral(":/icons/left_arrow.png"));
    const QIcon right(QStringLiteral(":/icons/right_arrow.png"));
    ui->btn_hours_down->setIcon(left);
    ui->btn_days_down->setIcon(left);
    ui->btn_hours_up->setIcon(right);
    ui->btn_days_up->setIcon(right);
    restoreChoice();
}

DownloadDialog::~DownloadDialog()
{
    delete ui;
}

DownloadPeriod DownloadDialog::period() const
{
    DownloadPeriod p;
    if (ui->radioButton_days->isChecked()) {
        p.kind = DownloadPeriod::Kind::Days;
        p.count = days();
    } else if (ui->radioButton->isChecked()) {
        p.kind = DownloadPeriod::Kind::All;
        p.count = 0;
    } else {
        p.kind = DownloadPeriod::Kind::Hours;
        p.count = count(ui->edit_hours, kMinHours, kMaxHours);
    }
    return p;
}

int DownloadDialog::days() const
{
    return count(ui->edit_days, kMinDays, kMaxDays);
}

void DownloadDialog::on_btn_cancel_clicked()
{
    reject();
}

void DownloadDialog::on_btn_start_clicked()
{
    saveChoice();
    accept();
}

void DownloadDialog::on_btn_hours_down_clicked()
{
    step(ui->radioButton_hours, ui->edit_hours, -1, kMinHours, kMaxHours);
}

void DownloadDialog::on_btn_hours_up_clicked()
{
    step(ui->radioButton_hours, ui->edit_hours, 1, kMinHours, kMaxHours);
}

void DownloadDialog::on_btn_days_down_clicked()
{
    step(ui->radioButton_days, ui->edit_days, -1, kMinDays, kMaxDays);
}

void DownloadDialog::on_btn_days_up_clicked()
{
    step(ui->radioButton_days, ui->edit_days, 1, kMinDays, kMaxDays);
}

void DownloadDialog::restoreChoice()
{
    QSettings settings;
    // Absent or unreadable values fall back to the form's choice: 1 hour.
    const int hours = qBound(kMinHours, settings.value(kHoursKey, QVariant()).toInt(), kMaxHours);
    const int days = qBound(kMinDays, settings.value(kDaysKey, QVariant()).toInt(), kMaxDays);
    ui->edit_hours->setText(QString::number(hours));
    ui->edit_days->setText(QString::number(days));
    const QString kind = settings.value(kPeriodKey, QVariant()).toString();
    if (kind == QLatin1String("days"))
        ui->radioButton_days->setChecked(true);
    else if (kind == QLatin1String("all"))
        ui->radioButton->setChecked(true);
    else
        ui->radioButton_hours->setChecked(true);
}

void DownloadDialog::saveChoice() const
{
    QSettings settings;
    const DownloadPeriod p = period();
    const char* kind = p.kind == DownloadPeriod::Kind::Days  ? "days"
                       : p.kind == DownloadPeriod::Kind::All ? "all"
                                                             : "hours";
    settings.setValue(kPeriodKey, QString::fromLatin1(kind));
    settings.setValue(kHoursKey, count(ui->edit_hours, kMinHours, kMaxHours));
    settings.setValue(kDaysKey, days());
}
