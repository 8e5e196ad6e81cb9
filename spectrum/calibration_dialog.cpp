#include "calibration_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

QLineEdit* numberField(const QString& objectName, const QString& placeholder)
{
    auto* field = new QLineEdit;
    field->setObjectName(objectName);
    field->setPlaceholderText(placeholder);
    return field;
}

// Numbers as typed with a point, or in the user's own way of writing them.
bool readNumber(const QLineEdit* field, double& value)
{
    const QString text = field->text().trimmed();
    bool ok = false;
    value = text.toDouble(&ok);
    if (!ok)
        value = field->locale().toDouble(text, &ok);
    return ok && std::isfinite(value);
}

} // namespace

CalibrationDialog::CalibrationDialog(const std::vector<double>& current,
                                     TakeCoefficients takeCoefficients, TakePeaks takePeaks,
                                     std::function<void()> resetToInstrument, QWidget* parent)
    : QDialog(parent), m_takeCoefficients(std::move(takeCoefficients)),
      m_takePeaks(std::move(takePeaks))
{
    setObjectName(QStringLiteral("calibrationDialog"));
    setWindowTitle(tr("Energy calibration"));

    auto* coefficientsPage = new QWidget;
    auto* coefficientsForm = new QFormLayout(coefficientsPage);
    coefficientsForm->addRow(
        new QLabel(tr("keV = c0 + c1 \u00b7 channel + c2 \u00b7 channel\u00b2")));
    const char* names[3] = {"c0", "c1", "c2"};
    for (int i = 0; i < 3; ++i) {
        m_coefficients[i] = numberField(QStringLiteral("calibration_%1").arg(names[i]),
                                        i == 2 ? QStringLiteral("0") : QString());
        if (std::size_t(i) < current.size())
            m_coefficients[i]->setText(QString::number(current[std::size_t(i)], 'g', 10));
        coefficientsForm->addRow(QString::fromLatin1(names[i]), m_coefficients[i]);
    }

    auto* peaksPage = new QWidget;
    auto* peaksForm = new QFormLayout(peaksPage);
    peaksForm->addRow(new QLabel(tr("Two peaks of known energy, at the channels read off the "
                                    "channel axis.")));
    const QString labels[4] = {tr("First peak, channel"), tr("First peak, keV"),
                               tr("Second peak, channel"), tr("Second peak, keV")};
    for (int i = 0; i < 4; ++i) {
        m_peaks[i] = numberField(QStringLiteral("calibration_peak%1").arg(i), QString());
        peaksForm->addRow(labels[i], m_peaks[i]);
    }

    m_tabs = new QTabWidget;
    m_tabs->addTab(coefficientsPage, tr("Coefficients"));
    m_tabs->addTab(peaksPage, tr("Two peaks"));

    m_refusal = new QLabel;
    m_refusal->setObjectName(QStringLiteral("calibrationRefusal"));
    m_refusal->setWordWrap(true);
    m_refusal->setStyleSheet(QStringLiteral("color: #a02020"));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    if (resetToInstrument) {
        QPushButton* reset =
            buttons->addButton(tr("Use the instrument's"), QDialogButtonBox::ResetRole);
        connect(reset, &QPushButton::clicked, this, [this, resetToInstrument] {
            resetToInstrument();
            QDialog::accept();
        });
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &CalibrationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CalibrationDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_refusal);
    layout->addWidget(buttons);
}

void CalibrationDialog::accept()
{
    QString refusal;
    if (m_tabs->currentIndex() == 0) {
        std::vector<double> coefficients(3, 0.0);
        for (int i = 0; i < 3 && refusal.isEmpty(); ++i) {
            if (i == 2 && m_coefficients[i]->text().trimmed().isEmpty())
                break; // a line needs no c2
            if (!readNumber(m_coefficients[i], coefficients[std::size_t(i)]))
                refusal = tr("c%1 is not a number.").arg(i);
        }
        if (refusal.isEmpty())
            refusal = m_takeCoefficients(coefficients);
    } else {
        double v[4] = {};
        for (int i = 0; i < 4 && refusal.isEmpty(); ++i)
            if (!readNumber(m_peaks[i], v[i]))
                refusal = tr("%1 is not a number.").arg(i % 2 ? tr("An energy") : tr("A channel"));
        if (refusal.isEmpty())
            refusal = m_takePeaks(Peaks{v[0], v[1], v[2], v[3]});
    }
    m_refusal->setText(refusal);
    if (refusal.isEmpty())
        QDialog::accept();
}
