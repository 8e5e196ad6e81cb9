// Map and track settings: the map folder, the track radius and the five-step
// colour scale. The dialog checks what was typed; the caller applies it.
#pragma once

#include <survey_checks.h>

#include <QColor>
#include <QDialog>
#include <QList>
#include <QString>

class QLabel;
class QLineEdit;
class Ui_SettingsDialog;

class SettingsDialog : public QDialog
{
    Q_OBJECT

public:
    // Above this a circle would cover far more than any map shows.
    static constexpr double maxTrackRadius = 10000;

    SettingsDialog(QString mapFolder, float trackRadius, QList<float> thresholds,
                   QList<QColor> colors, QWidget* parent = nullptr);
    ~SettingsDialog() override;

    static void setLabelColor(QLabel* label, QColor color);

    // What the dialog was accepted with.
    QString mapSource() const;
    double radius() const { return acceptedRadius; }
    QList<float> thresholdValues() const { return acceptedThresholds; }
    QList<QColor> chosenColors() const { return shownColors; }

    // Where the archive is (empty: `defaultPath`, shown as a hint) and the
    // team database's connection string (empty: none).
    void setArchive(const QString& path, const QString& defaultPath);
    QString archivePath() const;
    void setTeamDatabase(const QString& connection);
    QString teamDatabase() const;
    // The limits of the survey checks.
    void setCheckLimits(const CheckLimits& limits);
    CheckLimits checkLimits() const { return acceptedLimits; }

private slots:
    void on_btn_map_clicked();
    void on_btn_color1_clicked();
    void on_btn_color2_clicked();
    void on_btn_color3_clicked();
    void on_btn_color4_clicked();
    void on_btn_color5_clicked();
    void on_btn_ok_clicked();
    void on_btn_cancel_clicked();

private:
    void changeColor(int step);
    bool checkInput();

    Ui_SettingsDialog* ui;
    QList<QColor> colors;
    QList<float> thresholds;
    float trackRadius;
    QString mapFolder;

    QList<QColor> shownColors;
    double acceptedRadius = 0;
    QList<float> acceptedThresholds;
    CheckLimits acceptedLimits;
    QList<QLineEdit*> limitEdits;
};
