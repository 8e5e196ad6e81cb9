// The parameters of an interpolated dose-rate raster: the projection (the
// map's, or an EPSG code), the cell size, the power, the search radius and
// the mask distance.
#pragma once

#include "survey_raster.h"

#include <QDialog>

class QLineEdit;

class InterpolateDialog : public QDialog
{
    Q_OBJECT

public:
    explicit InterpolateDialog(QWidget* parent = nullptr);

    // What the dialog was accepted with; an empty projection is the map's.
    const RasterOptions& options() const { return accepted; }

private:
    bool check();

    QLineEdit* projection;
    QLineEdit* cell;
    QLineEdit* power;
    QLineEdit* radius;
    QLineEdit* mask;
    RasterOptions accepted;
};
