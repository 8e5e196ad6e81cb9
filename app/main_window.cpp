#include "main_window.h"

#include "archive_writer.h"
#include "button_fit.h"
#include "connect_dialog.h"
#include "distance_dialog.h"
#include "dose_chart.h"
#include "download_dialog.h"
#include "interpolate_dialog.h"
#include "live_readout.h"
#include "map_settings.h"
#include "message_dialogs.h"
#include "report_dialog.h"
#include "review_panel.h"
#include "settings_dialog.h"
#include "spectrum_window.h"
#include "survey_download.h"
#include "survey_export.h"
#include "survey_file.h"
#include "survey_text.h"
#include "surveys_dialog.h"
#include "ui_main_window.h"

#include <instrument_live.h>
#include <m30_protocol.h>
#include <mxx_comm.h>
#include <mxx_device.h>
#include <mxx_family_id.h>
#include <mxx_seeker.h>

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDialog>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QProgressDialog>
#include <QSettings>
#include <QSplitter>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <thread>

namespace {

const char* const buttonStyle = "padding: 15px;Text-align:left";

void showError(QWidget* parent, const QString& text)
{
    ui::showCriticalMessage(parent, QStringLiteral("Error"), text);
}

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent), ui(new Ui_MainWindow), seeker(std::make_shared<MXXSeeker>()),
      dev(new MXXDevice), connDialog(new ConnectDialog(seeker, this))
{
    ui->setupUi(this);
    ui->menuBar->hide();

    BuildReviewArea();
    // Under the status line: the instrument, and the button that
    // acknowledges its alarms.
    live = new InstrumentLive(dev, this);
    auto* instrumentLabel = new QLabel;
    instrumentLabel->setObjectName(QStringLiteral("lblInstrument"));
    instrumentLabel->setAlignment(Qt::AlignCenter);
    auto* acknowledge = new QPushButton(QStringLiteral("Acknowledge alarm"));
    acknowledge->setObjectName(QStringLiteral("btnAcknowledge"));
    // Their room is kept while hidden: an alarm must not move the map.
    for (QWidget* widget :
         {static_cast<QWidget*>(instrumentLabel), static_cast<QWidget*>(acknowledge)}) {
        QSizePolicy policy = widget->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        widget->setSizePolicy(policy);
        ui->verticalLayout->addWidget(widget);
    }
    readout = new LiveReadout(live, ui->lblDoseRate, instrumentLabel, acknowledge, this);
    connect(readout, &LiveReadout::alarmChanged, this, &MainWindow::UpdateStatus);
    // The spectra accumulate while the window is closed, and show when it opens.
    spectrum = new SpectrumWindow(this);
    spectrum->resize(1000, 600);
    connect(live, &InstrumentLive::spectrum, spectrum, &SpectrumWindow::addSpectrum);
    connect(live, &InstrumentLive::identified, spectrum, &SpectrumWindow::updateSource);
    ConnectSignals();
    RestoreState();

    const std::pair<QPushButton*, const char*> icons[] = {
        {ui->btnDevice, ":/icons/device.png"},         {ui->btnConnect, ":/icons/connect.png"},
        {ui->btnDisconnect, ":/icons/disconnect.png"}, {ui->btnDownload, ":/icons/download.png"},
        {ui->btnSurveys, ":/icons/surveys.png"},       {ui->btnDistance, ":/icons/distance.png"},
        {ui->btnSettings, ":/icons/settings.png"},     {ui->btnQuit, ":/icons/quit.png"},
    };
    for (const auto& [button, icon] : icons) {
        button->setIcon(QIcon(QString::fromLatin1(icon)));
        button->setStyleSheet(QString::fromLatin1(buttonStyle));
    }
    // On a small screen the buttons give up height instead of pushing the
    // status label off the screen.
    fitButtons({ui->btnDevice, ui->btnConnect, ui->btnDisconnect, ui->btnDownload, ui->btnSurveys,
                ui->btnDistance, ui->btnSettings, ui->btnQuit});

    TOrvisk* orvisk = ui->Orvisk;
    const MapSettings mapSettings = MapSettings::load();
    mapFolder = mapSettings.folder;
    orvisk->setDoseScale(DoseScale(mapSettings.thresholds, mapSettings.colors));
    orvisk->loadMapFolder(mapFolder);
    orvisk->clearTrack();
    orvisk->createScene(trackR);
    orvisk->loadSettings();
    connect(orvisk, &TOrvisk::measurementChanged, this, &MainWindow::ShowMeasurement);
    connect(orvisk, &TOrvisk::pointInspected, this, &MainWindow::ShowPoint);
    connect(orvisk, &TOrvisk::cursorMoved, this, &MainWindow::ShowCursor);

    // The map's context menu, and a shortcut anywhere in the window.
    auto* exportAction = new QAction(QStringLiteral("Export survey..."), this);
    exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exportAction->setShortcutContext(Qt::WindowShortcut);
    connect(exportAction, &QAction::triggered, this, &MainWindow::ExportSurvey);
    addAction(exportAction);
    auto* openAction = new QAction(QStringLiteral("Open file..."), this);
    openAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    openAction->setShortcutContext(Qt::WindowShortcut);
    connect(openAction, &QAction::triggered, this, &MainWindow::OpenFile);
    addAction(openAction);
    auto* fitAction = new QAction(QStringLiteral("Fit survey"), this);
    fitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    fitAction->setShortcutContext(Qt::WindowShortcut);
    connect(fitAction, &QAction::triggered, orvisk, &TOrvisk::fitTrack);
    addAction(fitAction);
    auto* interpolateAction = new QAction(QStringLiteral("Interpolate..."), this);
    interpolateAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    interpolateAction->setShortcutContext(Qt::WindowShortcut);
    connect(interpolateAction, &QAction::triggered, this, &MainWindow::Interpolate);
    addAction(interpolateAction);
    auto* reportAction = new QAction(QStringLiteral("Report..."), this);
    reportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_P));
    reportAction->setShortcutContext(Qt::WindowShortcut);
    connect(reportAction, &QAction::triggered, this, &MainWindow::MakeReport);
    addAction(reportAction);
    rasterAction = new QAction(QStringLiteral("Interpolated raster"), this);
    rasterAction->setCheckable(true);
    rasterAction->setEnabled(false);
    connect(rasterAction, &QAction::toggled, orvisk, &TOrvisk::setUnderlayShown);
    auto* surveysAction = new QAction(QStringLiteral("Surveys..."), this);
    connect(surveysAction, &QAction::triggered, this, &MainWindow::OnBtnSurveysClicked);
    // The review panel and the chart can go, to give the map the room.
    auto* reviewAction = new QAction(QStringLiteral("Review panel"), this);
    reviewAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    auto* chartAction = new QAction(QStringLiteral("Dose-rate chart"), this);
    chartAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    for (auto [action, widget] : {std::pair{reviewAction, static_cast<QWidget*>(reviewPanel)},
                                  std::pair{chartAction, static_cast<QWidget*>(doseChart)}}) {
        action->setCheckable(true);
        action->setChecked(!widget->isHidden());
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::toggled, widget, &QWidget::setVisible);
        addAction(action);
    }
    orvisk->addAction(fitAction);
    orvisk->addAction(reviewAction);
    orvisk->addAction(chartAction);
    orvisk->addAction(surveysAction);
    orvisk->addAction(openAction);
    orvisk->addAction(exportAction);
    orvisk->addAction(interpolateAction);
    orvisk->addAction(reportAction);
    orvisk->addAction(rasterAction);
    auto* spectrumAction = new QAction(QStringLiteral("Spectrum"), this);
    spectrumAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    spectrumAction->setShortcutContext(Qt::WindowShortcut);
    connect(spectrumAction, &QAction::triggered, this, &MainWindow::ShowSpectrum);
    addAction(spectrumAction);
    orvisk->addAction(spectrumAction);
    auto* alarmsAction = new QAction(QStringLiteral("Alarms..."), this);
    alarmsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    alarmsAction->setShortcutContext(Qt::WindowShortcut);
    connect(alarmsAction, &QAction::triggered, this, &MainWindow::ShowAlarms);
    addAction(alarmsAction);
    orvisk->addAction(alarmsAction);
    orvisk->setContextMenuPolicy(Qt::ActionsContextMenu);
    UpdateStatus();
}

// The device closes its link before the seeker, released with the
// connection dialog, shuts the command layer down.
MainWindow::~MainWindow()
{
    delete live; // its poller ends before the device closes the link
    live = nullptr;
    delete dev;
    delete ui;
}

TOrvisk* MainWindow::map() const
{
    return ui->Orvisk;
}

// The map shares its frame with the review panel beside it and the chart
// under both; splitters let the surveyor give each its room.
void MainWindow::BuildReviewArea()
{
    TOrvisk* orvisk = ui->Orvisk;
    besideMap = new QSplitter(Qt::Horizontal);
    besideMap->setObjectName(QStringLiteral("besideMap"));
    underMap = new QSplitter(Qt::Vertical);
    underMap->setObjectName(QStringLiteral("underMap"));
    delete ui->horizontalLayout_4->replaceWidget(orvisk, underMap);
    reviewPanel = new ReviewPanel;
    reviewPanel->setObjectName(QStringLiteral("reviewPanel"));
    doseChart = new DoseChart;
    doseChart->setObjectName(QStringLiteral("doseChart"));
    besideMap->addWidget(orvisk);
    besideMap->addWidget(reviewPanel);
    besideMap->setStretchFactor(0, 1);
    besideMap->setSizes({780, 330});
    underMap->addWidget(besideMap);
    underMap->addWidget(doseChart);
    underMap->setStretchFactor(0, 1);
    underMap->setSizes({500, 200});
    for (QSplitter* splitter : {besideMap, underMap}) {
        splitter->setChildrenCollapsible(false);
    }

    connect(reviewPanel, &ReviewPanel::shownChanged, this, &MainWindow::ShowShown);
    connect(reviewPanel, &ReviewPanel::centreOn, this, [this](int index) {
        ui->Orvisk->centreOnSurveyPoint(index);
        ui->Orvisk->markSurveyPoint(index);
    });
    connect(doseChart, &DoseChart::rangeChosen, this, [this](uint32_t from, uint32_t to) {
        reviewPanel->setRange(ReviewPanel::Range{from, to});
    });
    connect(doseChart, &DoseChart::rangeCleared, this,
            [this] { reviewPanel->setRange(std::nullopt); });
    connect(doseChart, &DoseChart::pointHovered, this, [this](int index) {
        ui->Orvisk->markSurveyPoint(index);
        if (index >= 0 && std::size_t(index) < surveyPoints.size())
            ShowPoint(surveyPoints[std::size_t(index)]);
    });
    connect(ui->Orvisk, &TOrvisk::surveyPointHovered, doseChart, &DoseChart::markPoint);
}

// What the review panel shows goes to the map and the chart.
void MainWindow::ShowShown()
{
    const bool checkChosen = reviewPanel->chosenCheck() != ReviewPanel::kAllPoints;
    ui->Orvisk->setTrackShown(reviewPanel->shown());
    doseChart->setRange(reviewPanel->range());
    if (checkChosen)
        ui->Orvisk->fitTrack(); // a check's points may lie anywhere
}

// Checks every point of the survey against the limits in Settings, and
// hands the result to the map, the panel and the chart.
void MainWindow::ReviewSurvey()
{

    const CheckLimits limits = limitsForData(surveyPoints, MapSettings::load().checks);
    std::vector<uint16_t> flags = checkSurvey(surveyPoints, recordSpans, limits);
    ui->Orvisk->setTrackFlags(flags);
    doseChart->setGapSeconds(limits.offGapSeconds);
    doseChart->setSurvey(surveyPoints, flags);
    reviewPanel->setSurvey(&surveyPoints, std::move(flags),
                           recordOfPoints(recordSpans, surveyPoints.size()), limits);
}

void MainWindow::ConnectSignals()
{
    connect(ui->btnDevice, &QPushButton::clicked, this, &MainWindow::OnBtnDeviceClicked);
    connect(ui->btnConnect, &QPushButton::clicked, this, &MainWindow::OnBtnConnectClicked);
    connect(ui->btnDisconnect, &QPushButton::clicked, this, &MainWindow::OnBtnDisconnectClicked);
    connect(ui->btnDownload, &QPushButton::clicked, this, &MainWindow::OnBtnDownloadClicked);
    connect(ui->btnSurveys, &QPushButton::clicked, this, &MainWindow::OnBtnSurveysClicked);
    connect(ui->btnDistance, &QPushButton::clicked, this, &MainWindow::OnBtnDistanceClicked);
    connect(ui->btnSettings, &QPushButton::clicked, this, &MainWindow::OnBtnSettingsClicked);
    connect(ui->btnQuit, &QPushButton::clicked, this, &MainWindow::OnBtnQuitClicked);
    connect(dev, &MXXDevice::connected, this, &MainWindow::OnDevConnected, Qt::QueuedConnection);
    connect(dev, &MXXDevice::disconnected, this, &MainWindow::OnDevDisconnected,
            Qt::QueuedConnection);
    connect(dev, &MXXDevice::connectionError, this, &MainWindow::OnDevConnectionError,
            Qt::QueuedConnection);
}

void MainWindow::SaveState()
{
    QSettings settings;
    settings.setValue(QStringLiteral("MainWindowGeometry"), saveGeometry());
    settings.setValue(QStringLiteral("MainWindowState"), saveState(0));
    settings.setValue(QStringLiteral("ConnectionString"), connString);
    settings.setValue(QStringLiteral("LastDays"), lastDaysValue);
    settings.setValue(QStringLiteral("trackR"), trackR);
    settings.setValue(QStringLiteral("ReviewSplitter"), besideMap->saveState());
    settings.setValue(QStringLiteral("ChartSplitter"), underMap->saveState());
    settings.setValue(QStringLiteral("ReviewShown"), !reviewPanel->isHidden());
    settings.setValue(QStringLiteral("ChartShown"), !doseChart->isHidden());
}

void MainWindow::RestoreState()
{
    QSettings settings;
    QByteArray geometry =
        settings.value(QStringLiteral("MainWindowGeometry"), QVariant()).toByteArray();
    QByteArray state = settings.value(QStringLiteral("MainWindowState"), QVariant()).toByteArray();
    connString = settings.value(QStringLiteral("ConnectionString"), QVariant()).toString();
    lastDaysValue = settings.value(QStringLiteral("LastDays"), QVariant()).toInt();
    trackR = settings.value(QStringLiteral("trackR"), QVariant()).toInt();
    restoreGeometry(geometry);
    restoreState(state, 0);
    besideMap->restoreState(settings.value(QStringLiteral("ReviewSplitter")).toByteArray());
    underMap->restoreState(settings.value(QStringLiteral("ChartSplitter")).toByteArray());
    reviewPanel->setVisible(settings.value(QStringLiteral("ReviewShown"), true).toBool());
    doseChart->setVisible(settings.value(QStringLiteral("ChartShown"), true).toBool());
}

void MainWindow::OnBtnDeviceClicked()
{
    if (!connDialog->execute())
        return;
    connString = connDialog->connectionString();
    SaveState();
}

void MainWindow::OnBtnConnectClicked()
{
    if (dev->connect(connString)) {
        status = 3;
    } else {
        showError(this, QStringLiteral("Device connection create error!"));
        status = 2;
    }
    UpdateStatus();
}

void MainWindow::OnBtnDisconnectClicked()
{
    dev->disconnect();
}

void MainWindow::OnDevConnected()
{
    status = 1;
    ConnectionChanged(true);
    UpdateStatus();
}

void MainWindow::OnDevConnectionError()
{
    status = 2;
    ConnectionChanged(false);
    UpdateStatus();
}

void MainWindow::OnDevDisconnected()
{
    status = 0;
    ConnectionChanged(false);
    UpdateStatus();
}

// The window serves the family connected: its events are followed, and
// Download says beforehand when the family keeps no surveys.
void MainWindow::ConnectionChanged(bool connected)
{
    if (connected) {
        live->start(); // the device forgot the last connection's protocols
        const LiveFamily& family = live->family();
        spectrum->setSource(live->source(), family.streams, family.mode);
        spectrum->setSequenceStep(0, uint64_t(family.sequenceStep));
    } else {
        live->stop(); // what the spectrum window holds stays
    }
    readout->setConnected(connected);
    const QString refusal = connected ? downloadRefusal(live->type()) : QString();
    ui->btnDownload->setEnabled(refusal.isEmpty());
    ui->btnDownload->setToolTip(refusal);
}

void MainWindow::UpdateStatus()
{
    static const char* const texts[] = {"Disconnected", "Connected", "Connection error!",
                                        "Connecting..."};
    // An alarm holds the line, white on red, until acknowledged.
    if (readout->alarmRaised()) {
        ui->lblStatus->setText(readout->alarmStatus());
        ui->lblStatus->setStyleSheet(QStringLiteral("background-color: #d00000; color: white"));
        return;
    }
    ui->lblStatus->setStyleSheet(QString());
    if (status >= 0 && status < 4)
        ui->lblStatus->setText(QString::fromLatin1(texts[status]));
}

void MainWindow::ShowSpectrum()
{
    spectrum->show();
    spectrum->raise();
    spectrum->activateWindow();
}

// The alarms of this session, newest first, with when each was acknowledged.
void MainWindow::ShowAlarms()
{
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Alarms"));
    auto* list = new QListWidget;
    list->setObjectName(QStringLiteral("alarmList"));
    const auto& alarms = readout->alarms();
    for (auto it = alarms.rbegin(); it != alarms.rend(); ++it) {
        QString line = it->at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                       QStringLiteral("  ") + LiveReadout::alarmText(it->bits);
        if (it->acknowledged.isValid())
            line += QStringLiteral("  (acknowledged %1)")
                        .arg(it->acknowledged.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
        list->addItem(line);
    }
    if (alarms.empty())
        list->addItem(QStringLiteral("No alarms since Orvisk started."));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog.resize(480, 300);
    dialog.exec();
}

void MainWindow::OnBtnDownloadClicked()
{
    DownloadDialog periodDialog;
    if (periodDialog.exec() != QDialog::Accepted)
        return;
    lastDaysValue = periodDialog.days();
    const DownloadPeriod period = periodDialog.period();

    QProgressDialog progress(QStringLiteral("Connecting device..."), QStringLiteral("Cancel"), 0,
                             100, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.show();
    if (MXX_get_conn_state_id(dev->connId()) != COMM_STATE_OPEN) {
        showError(this, QStringLiteral("Device not connected!"));
        return;
    }
    if (!live->surveyBuffer()) {
        showError(this, QStringLiteral("Incompatible device!"));
        dev->disconnect();
        return;
    }
    progress.setLabelText(QStringLiteral("Downloading data..."));
    progress.setValue(10);
    QCoreApplication::processEvents();

    // Everything that waits on the instrument runs on the download's own
    // thread; this one only draws what arrives, and Cancel or closing the
    // window ends the download after the exchange under way.
    const QDateTime now = QDateTime::currentDateTime();
    SurveyDownload run(live->surveyBuffer(), dev->connId(), period.oldest(now));
    download = &run;
    QObject::connect(&progress, &QProgressDialog::canceled, this, [&run] { run.stop(); });
    TOrvisk* orvisk = ui->Orvisk;
    DaysBefore daysBefore(now);
    int count = 0;
    bool listed = false;
    DownloadInfo archived;
    std::unique_ptr<ArchiveWriter> writer;
    QCryptographicHash recordsHash(QCryptographicHash::Sha256); // as they came, newest first
    const SurveyDownload::End end = run.fetchAhead(
        [&](bool ok) {
            listed = ok;
            if (!ok)
                return false;
            count = static_cast<int>(run.indices().size());
            if (run.listCut())
                std::printf("The index list was cut at %d records.\n", count);
            std::printf("Downloading %d records.\n", count);
            std::fflush(stdout);
            ForgetRaster();
            orvisk->clearTrack();
            surveyPoints.clear();
            recordSpans.clear();
            provenance.reset();
            archived = startedDownload(run, dev->connString(), dev->type());
            writer = archiveWriter(archived);
            return !progress.wasCanceled();
        },
        [&](int i, const SurveyRecord* record) {
            if (record) {
                recordsHash.addData(record->bytes.data(), int(record->bytes.size()));
                if (writer)
                    writer->add(i, *record);
                std::printf("%d %d\n", daysBefore(record->time), lastDaysValue);
                orvisk->addTrackPoints(record->points);
                recordSpans.push_back({surveyPoints.size(), record->points.size(), record->time});
                surveyPoints.insert(surveyPoints.end(), record->points.begin(),
                                    record->points.end());
            }
            const int percent = static_cast<int>(float(i) / float(count) * 90.0f + 10.0f);
            if (percent != progress.value())
                progress.setValue(percent);
            return !progress.wasCanceled();
        },
        [&] { return !progress.wasCanceled(); });
    download = nullptr;
    if (!listed) {
        if (end == SurveyDownload::End::NotListed)
            showError(this, QStringLiteral("Download survey indices failed!"));
        return;
    }
    progress.setValue(100);
    QCoreApplication::processEvents();
    ReviewSurvey();
    orvisk->createScene(trackR);
    orvisk->fitTrack();
    QString archiveProblem = writer ? QString() : lastArchiveProblem;
    endedDownload(archived, run);
    provenance = provenanceOf(archived);
    provenance->recordsSha256 = QString::fromLatin1(recordsHash.result().toHex());
    if (writer) {
        if (!writer->finish(archived))
            archiveProblem = writer->error();
        else
            std::printf("Archived as download %lld.\n", static_cast<long long>(writer->download()));
        writer.reset();
    }
    ReportDownload(run, static_cast<int>(end));
    if (!archiveProblem.isEmpty())
        showError(this, QStringLiteral("The survey is drawn, but it could not be archived: %1")
                            .arg(archiveProblem));
}

// The archive is opened at the first download and kept; one that cannot be
// opened is tried again at the next.
SurveyArchive* MainWindow::openArchive()
{
    lastArchiveProblem.clear();
    if (!archive)
        archive = SurveyArchive::open(SurveyArchive::defaultPath(), &lastArchiveProblem);
    return archive.get();
}

std::unique_ptr<ArchiveWriter> MainWindow::archiveWriter(DownloadInfo& info)
{
    if (!openArchive())
        return nullptr;
    auto writer = std::make_unique<ArchiveWriter>(*archive, info);
    if (!writer->ok()) {
        lastArchiveProblem = writer->error();
        return nullptr;
    }
    return writer;
}

// What did not arrive is said once, on standard output with the record
// indices and in one message box; the track shows whatever came. A download
// the surveyor cancelled names what it left on standard output only.
void MainWindow::ReportDownload(const SurveyDownload& download, int ending)
{
    const auto end = static_cast<SurveyDownload::End>(ending);
    const int missing = static_cast<int>(download.missing().size());
    if (end == SurveyDownload::End::PeriodEnded)
        std::printf("%d records in the period.\n", download.inPeriod());
    if (download.impossiblePoints() > 0)
        std::printf("%d points were left out: their position is not a place on the earth.\n",
                    download.impossiblePoints());
    if (missing > 0) {
        std::printf("Records not downloaded:");
        for (uint32_t index : download.missing())
            std::printf(" %u", index);
        std::printf("\n");
    }
    std::fflush(stdout);
    if (missing == 0 || end == SurveyDownload::End::Cancelled)
        return;
    QString text = QStringLiteral("%1 of %2 records could not be downloaded.")
                       .arg(missing)
                       .arg(download.inPeriod() + missing);
    if (end == SurveyDownload::End::LinkLost)
        text = QStringLiteral("The connection was lost during the download. ") + text;
    else if (end == SurveyDownload::End::InstrumentSilent)
        text = QStringLiteral("The instrument stopped answering. ") + text;
    showError(this, text);
}

void MainWindow::OnBtnSurveysClicked()
{
    SurveyArchive* opened = openArchive();
    if (!opened) {
        showError(this, lastArchiveProblem);
        return;
    }
    SurveysDialog dialog(*opened, QSettings().value(QStringLiteral("teamDatabase")).toString(),
                         this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::vector<SurveyPoint> points;
    std::vector<RecordSpan> records;
    for (qint64 id : dialog.chosen()) {
        const std::size_t offset = points.size();
        if (!opened->points(id, points) || !opened->recordSpans(id, offset, records)) {
            showError(this, opened->lastError());
            return;
        }
    }
    // Several downloads have no one provenance.
    std::optional<SurveyProvenance> from;
    if (dialog.chosen().size() == 1) {
        QString problem;
        from = archivedProvenance(*opened, dialog.chosen().front(), &problem);
        if (!from) {
            showError(this, problem);
            return;
        }
    }
    ShowSurvey(std::move(points), std::move(records), std::move(from));
    std::printf("Opened %zu points of %zu downloads from the archive.\n", surveyPoints.size(),
                dialog.chosen().size());
    std::fflush(stdout);
}

void MainWindow::OpenFile()
{
    const QString path = ui::chooseOpenFile(this, QStringLiteral("Open file"), surveyOpenFilter());
    if (path.isEmpty())
        return;
    QString error;
    std::optional<SurveyFile> file = readSurveyFile(path, &error);
    if (!file) {
        showError(this, error);
        return;
    }
    const bool noDoseRate = !file->orviskExport && file->doseRateField.isEmpty();
    ShowSurvey(std::move(file->points), {}, std::nullopt);
    std::printf("Opened %zu points from %s%s\n", surveyPoints.size(), path.toUtf8().constData(),
                noDoseRate ? " (no dose-rate field found)" : "");
    std::fflush(stdout);
}

// Points from the archive or a file take the place of the last download's,
// and the view fits them.
void MainWindow::ShowSurvey(std::vector<SurveyPoint> points, std::vector<RecordSpan> records,
                            std::optional<SurveyProvenance> from)
{
    TOrvisk* orvisk = ui->Orvisk;
    provenance = std::move(from);
    ForgetRaster();
    orvisk->clearTrack();
    surveyPoints = std::move(points);
    recordSpans = std::move(records);
    orvisk->addTrackPoints(surveyPoints);
    ReviewSurvey();
    orvisk->createScene(trackR);
    orvisk->fitTrack();
}

void MainWindow::ExportSurvey()
{
    if (surveyPoints.empty()) {
        showError(this, QStringLiteral("Nothing to export: download a survey first."));
        return;
    }
    // What is shown is what goes: the panel's choice of points, saying so.
    const bool filtered = reviewPanel->filtered();
    const auto [points, pointFlags] = ShownSurvey();
    const QString only = filtered ? QStringLiteral("only the %1 of %2 points shown: %3")
                                        .arg(points.size())
                                        .arg(surveyPoints.size())
                                        .arg(reviewPanel->filterText())
                                  : QString();
    if (points.empty()) {
        showError(this, QStringLiteral("Nothing to export: no point is shown."));
        return;
    }
    const QString path = ui::chooseSaveFile(
        this,
        filtered ? QStringLiteral("Export survey (%1)").arg(only) : QStringLiteral("Export survey"),
        surveyExportFilter());
    if (path.isEmpty())
        return;
    QString error;
    SurveyExportOptions options;
    options.flags = pointFlags.size() == points.size() ? &pointFlags : nullptr;
    options.provenance = provenance;
    if (!exportSurvey(path, points, options, &error)) {
        showError(this, error);
        return;
    }
    std::printf("Exported %zu points to %s%s\n", points.size(), path.toUtf8().constData(),
                filtered ? qPrintable(QStringLiteral(" (") + only + QLatin1Char(')')) : "");
    std::fflush(stdout);
}

std::pair<std::vector<SurveyPoint>, std::vector<uint16_t>> MainWindow::ShownSurvey() const
{
    const std::vector<uint16_t>& flags = reviewPanel->flags();
    if (!reviewPanel->filtered())
        return {surveyPoints, flags};
    std::vector<SurveyPoint> points;
    std::vector<uint16_t> pointFlags;
    const std::vector<char>& shown = reviewPanel->shown();
    for (std::size_t i = 0; i < surveyPoints.size(); ++i)
        if (shown[i]) {
            points.push_back(surveyPoints[i]);
            pointFlags.push_back(flags[i]);
        }
    return {std::move(points), std::move(pointFlags)};
}

// A dose-rate raster of the good points shown, written as a GeoTIFF and, in
// the map's projection, laid under the track in the colours of the steps.
void MainWindow::Interpolate()
{
    if (surveyPoints.empty()) {
        showError(this, QStringLiteral("Nothing to interpolate: download or open a survey first."));
        return;
    }
    InterpolateDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    RasterOptions options = dialog.options();
    options.provenance = provenance;
    const bool onMap = options.projection.isEmpty();
    if (onMap)
        options.projection = QString::fromUtf8(ui->Orvisk->projectionDefinition());
    if (const QString problem = rasterOptionsProblem(options); !problem.isEmpty()) {
        showError(this, problem);
        return;
    }
    const QString path = ui::chooseSaveFile(this, QStringLiteral("Interpolated dose rate"),
                                            QStringLiteral("GeoTIFF (*.tif *.tiff)"));
    if (path.isEmpty())
        return;
    const auto [points, flags] = ShownSurvey();

    // Seconds of work for a large survey: on a thread of its own, so the
    // window answers and Cancel works.
    QProgressDialog progress(QStringLiteral("Interpolating..."), QStringLiteral("Cancel"), 0, 100,
                             this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(300);
    std::atomic<int> percent{0};
    std::atomic<bool> cancelled{false}, finished{false};
    QString error;
    std::optional<DoseRaster> raster;
    std::thread worker([&, &points = points, &flags = flags] {
        raster = makeDoseRaster(points, flags, options, &error, [&](double done) {
            percent = int(done * 100);
            return !cancelled.load();
        });
        finished = true;
    });
    while (!finished) {
        progress.setValue(std::min(percent.load(), 99));
        if (progress.wasCanceled())
            cancelled = true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    progress.reset();
    if (!raster) {
        if (!cancelled)
            showError(this, error);
        return;
    }
    if (!writeDoseRaster(*raster, options, path, &error)) {
        showError(this, error);
        return;
    }
    std::printf("Interpolated %zu points onto %d x %d cells of %g m (%zu with a value) in %s\n",
                raster->points, raster->frame.columns, raster->frame.rows,
                raster->frame.cell * raster->metresPerUnit, raster->cells,
                path.toUtf8().constData());
    std::fflush(stdout);
    if (!onMap)
        return; // another projection: the file is the deliverable
    ShowRaster(*raster);
}

// The map of what is shown with its figures, as a PDF.
void MainWindow::MakeReport()
{
    if (surveyPoints.empty()) {
        showError(this, QStringLiteral("Nothing to report: download or open a survey first."));
        return;
    }
    // The panel's figures are those of what is shown.
    ReportFacts facts;
    facts.survey = &surveyPoints;
    facts.stats = reviewPanel->stats();
    facts.recordsKnown = reviewPanel->recordsKnown();
    facts.limits = reviewPanel->checkLimits();
    facts.flagCounts = shownFlagCounts(reviewPanel->flags(), reviewPanel->shown());
    facts.provenance = provenance;
    if (reviewPanel->filtered())
        facts.filter = QStringLiteral("only the %1 of %2 points: %3")
                           .arg(reviewPanel->shownCount())
                           .arg(surveyPoints.size())
                           .arg(reviewPanel->filterText());
    ReportDialog dialog(defaultReportTitle(facts), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    facts.title = dialog.title();
    const QString path =
        ui::chooseSaveFile(this, QStringLiteral("Report"), QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!writeSurveyReport(path, *ui->Orvisk, facts, dialog.options(), &error)) {
        showError(this, error);
        return;
    }
    std::printf("Wrote the report of %zu points to %s\n", facts.stats.points,
                path.toUtf8().constData());
    std::fflush(stdout);
}

// A raster made from the survey before is not the next one's.
void MainWindow::ForgetRaster()
{
    ui->Orvisk->clearUnderlay();
    rasterAction->setChecked(false);
    rasterAction->setEnabled(false);
}

// The raster's cells in the colours of the dose-rate steps, see-through
// enough for the map to show, and none where it has no value.
void MainWindow::ShowRaster(const DoseRaster& raster)
{
    const RasterFrame& frame = raster.frame;
    QImage image(frame.columns, frame.rows, QImage::Format_ARGB32);
    const DoseScale& scale = ui->Orvisk->doseScale();
    for (int row = 0; row < frame.rows; ++row) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(row));
        const float* values = raster.values.data() + std::size_t(row) * std::size_t(frame.columns);
        for (int column = 0; column < frame.columns; ++column) {
            const float value = values[column];
            if (value == float(raster.nodata) || !std::isfinite(value)) {
                line[column] = 0;
                continue;
            }
            QColor colour = scale.colourOf(value / 1000.0f); // nSv/h to the points' uSv/h
            colour.setAlpha(150);
            line[column] = colour.rgba();
        }
    }
    ui->Orvisk->setUnderlay(image, frame.west, frame.north, frame.cell, frame.cell);
    ui->Orvisk->setUnderlayShown(true);
    rasterAction->setEnabled(true);
    rasterAction->setChecked(true);
}

void MainWindow::OnBtnSettingsClicked()
{
    MapSettings stored = MapSettings::load();
    SettingsDialog dialog(mapFolder, float(trackR), stored.thresholds, stored.colors, this);
    dialog.setCheckLimits(stored.checks);
    QSettings current;
    dialog.setArchive(current.value(QStringLiteral("archive")).toString(),
                      SurveyArchive::dataFolderPath());
    dialog.setTeamDatabase(current.value(QStringLiteral("teamDatabase")).toString());
    if (dialog.exec() != QDialog::Accepted)
        return;
    trackR = int(std::lround(dialog.radius()));
    QSettings().setValue(QStringLiteral("trackR"), trackR);
    stored.thresholds = dialog.thresholdValues();
    stored.colors = dialog.chosenColors();
    const bool newLimits = !sameCheckLimits(stored.checks, dialog.checkLimits());
    stored.checks = dialog.checkLimits();
    if (dialog.mapSource() != mapFolder) {
        mapFolder = dialog.mapSource();
        stored.folder = mapFolder;
        ui->Orvisk->loadMapFolder(mapFolder);
    }
    stored.save();
    if (newLimits)
        ReviewSurvey();
    QSettings settings;
    for (const auto& [key, value] : {std::pair{"archive", dialog.archivePath()},
                                     std::pair{"teamDatabase", dialog.teamDatabase()}}) {
        if (value.isEmpty())
            settings.remove(QLatin1String(key));
        else
            settings.setValue(QLatin1String(key), value);
    }
    if (archive && archive->path() != SurveyArchive::defaultPath())
        archive.reset(); // the next use opens the one now set
    ui->Orvisk->setDoseScale(DoseScale(stored.thresholds, stored.colors));
    ui->Orvisk->createScene(trackR);
}

void MainWindow::OnBtnDistanceClicked()
{
    DistanceDialog dialog(ui->Orvisk);
    dialog.exec();
}

void MainWindow::ShowMeasurement()
{
    const std::optional<geodesic::Line> line = ui->Orvisk->measurement();
    ui->lblDistField->setText(line ? geodesic::distanceText(line->metres) : QString());
    ui->lblAzimuthField->setText(line ? geodesic::azimuthText(line->azimuth) : QString());
}

void MainWindow::ShowPoint(const SurveyPoint& point)
{
    ui->lblLatField->setText(survey_text::latitude(point.latitude));
    ui->lblLongField->setText(survey_text::longitude(point.longitude));
    ui->lblAltField->setText(survey_text::altitude(point));
    readout->setPointShown(true);
    ui->lblDoseRate->setStyleSheet(QString());
    ui->lblDoseRate->setText(survey_text::doseRate(point));
}

void MainWindow::ShowCursor(double latitude, double longitude)
{
    ui->lblLatField->setText(survey_text::latitude(latitude));
    ui->lblLongField->setText(survey_text::longitude(longitude));
    ui->lblAltField->clear();
    ui->lblDoseRate->clear();
    readout->setPointShown(false); // the instrument's own value, while connected
}

void MainWindow::OnBtnQuitClicked()
{
    close();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // A download under way ends after its current exchange; the window goes now.
    if (download)
        download->stop();
    SaveState();
    event->accept();
}
