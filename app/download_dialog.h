// Asks for the period of a survey download: the last N hours, the last N
// days or every record. Start accepts, Cancel rejects; the choice made with
// Start is kept in the settings store and offered again next time.
#pragma once

#include <QDateTime>
#include <QDialog>

class QLineEdit;
class QRadioButton;
class Ui_DownloadDialog;

struct DownloadPeriod
{
    enum class Kind { Hours, Days, All };

    Kind kind = Kind::Hours;
    int count = 1; // hours or days; not used for All

    // The oldest record time inside the period for a download at `now`;
    // invalid for All, which keeps every record.
    QDateTime oldest(const QDateTime& now) const;
};

class DownloadDialog : public QDialog
{
    Q_OBJECT

public:
    // Settings keys: "LastPeriod" holds the kind ("hours", "days" or "all"),
    // "LastHours" the hour count and "LastDays" the day count.
    explicit DownloadDialog(QWidget* parent = nullptr);
    ~DownloadDialog() override;

    DownloadPeriod period() const;
    // The day count shown, whichever kind is chosen (the value kept as "LastDays").
    int days() const;

public slots:
    void on_btn_cancel_clicked();
    void on_btn_start_clicked();
    void on_btn_hours_down_clicked();
    void on_btn_hours_up_clicked();
    void on_btn_days_down_clicked();
    void on_btn_days_up_clicked();

private:
    void restoreChoice();
    void saveChoice() const;

    Ui_DownloadDialog* ui;
};
