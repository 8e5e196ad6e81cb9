#include "report_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QSettings>

ReportDialog::ReportDialog(const QString& title, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Report"));
    titleEdit = new QLineEdit(title, this);
    titleEdit->setObjectName(QStringLiteral("reportTitle"));
    titleEdit->setMinimumWidth(380);
    page = new QComboBox(this);
    page->setObjectName(QStringLiteral("reportPage"));
    for (const QPageSize::PageSizeId id : {QPageSize::A4, QPageSize::Letter})
        page->addItem(pageName(id), int(id));
    orientation = new QComboBox(this);
    orientation->setObjectName(QStringLiteral("reportOrientation"));
    orientation->addItem(QStringLiteral("Landscape"), int(QPageLayout::Landscape));
    orientation->addItem(QStringLiteral("Portrait"), int(QPageLayout::Portrait));

    QSettings settings;
    settings.beginGroup(QStringLiteral("Report"));
    page->setCurrentText(settings.value(QStringLiteral("Page"), page->itemText(0)).toString());
    orientation->setCurrentText(
        settings.value(QStringLiteral("Orientation"), orientation->itemText(0)).toString());

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Title:"), titleEdit);
    form->addRow(QStringLiteral("Page:"), page);
    form->addRow(QStringLiteral("Orientation:"), orientation);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &ReportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ReportDialog::reject);
}

QString ReportDialog::title() const
{
    return titleEdit->text().simplified();
}

ReportOptions ReportDialog::options() const
{
    ReportOptions options;
    options.page = QPageSize::PageSizeId(page->currentData().toInt());
    options.orientation = QPageLayout::Orientation(orientation->currentData().toInt());
    return options;
}

void ReportDialog::accept()
{
    QSettings settings;
    settings.beginGroup(QStringLiteral("Report"));
    settings.setValue(QStringLiteral("Page"), page->currentText());
    settings.setValue(QStringLiteral("Orientation"), orientation->currentText());
    QDialog::accept();
}
