// The choices of a map report: its title, the page size and the orientation,
// the last page choices kept in group "Report".
#pragma once

#include "survey_report.h"

#include <QDialog>

class QComboBox;
class QLineEdit;

class ReportDialog : public QDialog
{
    Q_OBJECT

public:
    ReportDialog(const QString& title, QWidget* parent = nullptr);

    QString title() const;
    ReportOptions options() const;

    void accept() override;

private:
    QLineEdit* titleEdit;
    QComboBox* page;
    QComboBox* orientation;
};
