// The two-point distance tool: picks two places on the map; the map marks
// them and the main window shows the distance and azimuth between them.
#pragma once

#include <QDialog>

class Ui_DistanceDialog;
class TOrvisk;

class DistanceDialog : public QDialog
{
    Q_OBJECT

public:
    explicit DistanceDialog(TOrvisk* map, QWidget* parent = nullptr);
    ~DistanceDialog() override;

    void done(int result) override;

private slots:
    void on_btn_clear_clicked();
    void on_btn_point1_clicked();
    void on_btn_point2_clicked();
    void on_btn_exit_clicked();

private:
    void pickPoint(int index);
    void comeBack();

    Ui_DistanceDialog* ui;
    TOrvisk* map;
    int pendingPoint = -1; // the mark being picked, or -1
};
