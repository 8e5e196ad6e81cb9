// The user's energy calibration for the spectrum window: three coefficients,
// or two peaks of known energy. What the window refuses is shown in the
// dialog, which stays open for a correction.
#pragma once

#include <QDialog>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QTabWidget;

class CalibrationDialog : public QDialog
{
    Q_OBJECT

public:
    struct Peaks
    {
        double channel1 = 0, kev1 = 0, channel2 = 0, kev2 = 0;
    };
    // Each takes what was entered and returns the refusal, or empty when taken.
    using TakeCoefficients = std::function<QString(const std::vector<double>&)>;
    using TakePeaks = std::function<QString(const Peaks&)>;

    // `current`: the coefficients in use, to start from; `resetToInstrument`
    // (when set) drops the user's calibration.
    CalibrationDialog(const std::vector<double>& current, TakeCoefficients takeCoefficients,
                      TakePeaks takePeaks, std::function<void()> resetToInstrument,
                      QWidget* parent = nullptr);

    void accept() override;

private:
    QTabWidget* m_tabs = nullptr;
    QLineEdit* m_coefficients[3] = {};
    QLineEdit* m_peaks[4] = {}; // channel 1, keV 1, channel 2, keV 2
    QLabel* m_refusal = nullptr;
    TakeCoefficients m_takeCoefficients;
    TakePeaks m_takePeaks;
};
