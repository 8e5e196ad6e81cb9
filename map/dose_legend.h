// The key to the track's colours, kept in a corner of the map's view: one
// swatch per step with its dose-rate range, under the unit.
#pragma once

#include "dose_scale.h"

#include <QWidget>

class DoseLegend : public QWidget
{
    Q_OBJECT

public:
    explicit DoseLegend(QWidget* parent = nullptr);

    void setScale(const DoseScale& scale);
    const DoseScale& scale() const { return doseScale; }
    QString title() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    DoseScale doseScale;
};
