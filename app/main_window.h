// The only top-level window: the button column, the read-out rows, the
// connection status and the map.
#pragma once

#include "survey_export.h"

#include <survey_checks.h>
#include <survey_point.h>

#include <QMainWindow>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class ArchiveWriter;
class DoseChart;
struct DoseRaster;
class QAction;
class QSplitter;
class ReviewPanel;
class ConnectDialog;
class SurveyArchive;
struct DownloadInfo;
class InstrumentLive;
class LiveReadout;
class SpectrumWindow;
class MXXDevice;
class MXXSeeker;
class SurveyDownload;
class Ui_MainWindow;
class TOrvisk;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    const QString& connectionString() const { return connString; }
    int lastDays() const { return lastDaysValue; }
    int trackRadius() const { return trackR; }
    TOrvisk* map() const;
    MXXDevice* device() const { return dev; }
    InstrumentLive* instrumentLive() const { return live; }
    LiveReadout* liveReadout() const { return readout; }
    // The instrument's spectra, live, and spectrum files: Spectrum (Ctrl+G).
    SpectrumWindow* spectrumWindow() const { return spectrum; }
    ConnectDialog* connectDialog() const { return connDialog; }
    // The archive, once a download or Surveys... has opened it.
    SurveyArchive* surveyArchive() const { return archive.get(); }
    // The points of the last download, newest record first, or of what was
    // opened from the archive or a file.
    const std::vector<SurveyPoint>& survey() const { return surveyPoints; }
    // Where each record's points lie in survey() (empty: not known).
    const std::vector<RecordSpan>& surveyRecords() const { return recordSpans; }
    const std::optional<SurveyProvenance>& surveyProvenance() const { return provenance; }
    ReviewPanel* review() const { return reviewPanel; }
    DoseChart* chart() const { return doseChart; }

private slots:
    void OnBtnDeviceClicked();
    void OnBtnDownloadClicked();
    void OnBtnConnectClicked();
    void OnBtnDisconnectClicked();
    void OnBtnSettingsClicked();
    void OnBtnDistanceClicked();
    void OnBtnQuitClicked();
    void OnDevConnected();
    void OnDevConnectionError();
    void OnDevDisconnected();
    void OnBtnSurveysClicked();
    void OpenFile();
    void ExportSurvey();
    void ShowPoint(const SurveyPoint& point);
    void ShowCursor(double latitude, double longitude);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ConnectSignals();
    void SaveState();
    void RestoreState();
    void UpdateStatus();
    void ConnectionChanged(bool connected);
    void ShowAlarms();
    void ShowSpectrum();
    void ReportDownload(const SurveyDownload& download, int ending);
    void ShowMeasurement();
    SurveyArchive* openArchive();
    std::unique_ptr<ArchiveWriter> archiveWriter(DownloadInfo& info);
    void ShowSurvey(std::vector<SurveyPoint> points, std::vector<RecordSpan> records,
                    std::optional<SurveyProvenance> from);
    // The points the Review panel shows, with their flags.
    std::pair<std::vector<SurveyPoint>, std::vector<uint16_t>> ShownSurvey() const;
    void Interpolate();
    void MakeReport();
    void ShowRaster(const DoseRaster& raster);
    void ForgetRaster();
    void ReviewSurvey();
    void BuildReviewArea();
    void ShowShown();

    Ui_MainWindow* ui;
    std::shared_ptr<MXXSeeker> seeker;
    MXXDevice* dev;
    InstrumentLive* live = nullptr;     // the connected family's events and status
    LiveReadout* readout = nullptr;     // its dose rate and alarms in the left column
    SpectrumWindow* spectrum = nullptr; // its spectra
    ConnectDialog* connDialog;
    QString connString;
    int lastDaysValue = 0;
    int trackR = 0;
    int status = 0;
    QString mapFolder;
    std::vector<SurveyPoint> surveyPoints;
    std::vector<RecordSpan> recordSpans;
    // Where the survey came from: a download, or one archived download;
    // none for a file or several downloads.
    std::optional<SurveyProvenance> provenance;
    ReviewPanel* reviewPanel = nullptr;
    DoseChart* doseChart = nullptr;
    QSplitter* besideMap = nullptr;     // the map and the review panel
    QSplitter* underMap = nullptr;      // those and the chart
    QAction* rasterAction = nullptr;    // shows or hides the interpolated raster
    SurveyDownload* download = nullptr; // while one runs: closing the window stops it
    std::unique_ptr<SurveyArchive> archive;
    QString lastArchiveProblem;
};
