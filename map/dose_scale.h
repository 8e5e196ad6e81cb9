// The dose-rate colour scale of the track: up to five steps, each a threshold
// in nSv/h and the colour of the points that reach it.
#pragma once

#include <QColor>
#include <QList>
#include <QString>
#include <QVector>

class DoseScale
{
public:
    struct Step
    {
        float threshold; // nSv/h
        QColor colour;
    };
    // One line of the legend: a colour and the dose rates it stands for.
    struct LegendRow
    {
        QColor colour;
        QString range;
    };

    // The scale the settings store starts with.
    DoseScale();
    // Pairs thresholds and colours in order (extra entries of the longer list
    // are dropped); steps are taken in rising order of their thresholds.
    DoseScale(const QList<float>& thresholds, const QList<QColor>& colours);

    // Below the first threshold: the background, drawn so it does not compete.
    static QColor backgroundColour() { return QColor(128, 128, 128); }
    // No dose rate: the plain marker colour.
    static QColor unknownColour() { return QColor(255, 0, 0); }
    static QString unit() { return QStringLiteral("nSv/h"); }

    // -1 for an unknown dose rate (not finite, or not above 0), 0 below the first threshold, else
    // the step n (1 up) whose threshold the rate reaches and whose next one it does not.
    int stepOf(float microSievertPerHour) const;
    QColor colourOf(float microSievertPerHour) const;

    const QVector<Step>& steps() const { return scaleSteps; }
    // Highest step first, then the background and unknown rows.
    QVector<LegendRow> legend() const;

    bool operator==(const DoseScale& other) const;
    bool operator!=(const DoseScale& other) const { return !(*this == other); }

private:
    QVector<Step> scaleSteps;
    QVector<float> limits; // thresholds in uSv/h, as the points carry them
};
