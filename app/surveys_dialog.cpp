#include "surveys_dialog.h"

#include "archive_team.h"
#include "survey_archive.h"

#include <message_dialogs.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <thread>

namespace {

QString localTime(const QDateTime& t, const char* format)
{
    return t.isValid() ? t.toLocalTime().toString(QLatin1String(format)) : QStringLiteral("-");
}

QString period(const ArchivedDownload& d)
{
    if (!d.firstTime.isValid())
        return QStringLiteral("-");
    const QDateTime first = d.firstTime.toLocalTime(), last = d.lastTime.toLocalTime();
    return first.toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" - ") +
           last.toString(first.date() == last.date() ? QStringLiteral("HH:mm")
                                                     : QStringLiteral("yyyy-MM-dd HH:mm"));
}

QTableWidgetItem* cell(const QString& text, bool number = false)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (number)
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

// Runs `work` on a thread of its own while the window goes on drawing under
// a busy indicator: a team database may take its time to answer.
template <typename Work> void runAside(QWidget* parent, const QString& label, Work work)
{
    QProgressDialog busy(label, QString(), 0, 0, parent);
    busy.setWindowModality(Qt::WindowModal);
    busy.setMinimumDuration(300);
    QEventLoop loop;
    bool done = false;
    std::thread worker([&] {
        work();
        QMetaObject::invokeMethod(&busy, [&] {
            done = true;
            loop.quit();
        });
    });
    if (!done)
        loop.exec();
    worker.join();
    QCoreApplication::removePostedEvents(&busy);
}

} // namespace

SurveysDialog::SurveysDialog(SurveyArchive& archive, QString team, QWidget* parent)
    : QDialog(parent), m_archive(archive), m_team(std::move(team))
{
    setObjectName(QStringLiteral("SurveysDialog"));
    setWindowTitle(QStringLiteral("Surveys"));
    m_table = new QTableWidget(0, 6, this);
    m_table->setObjectName(QStringLiteral("surveyTable"));
    m_table->setHorizontalHeaderLabels(
        {QStringLiteral("Downloaded"), QStringLiteral("Instrument"), QStringLiteral("Period"),
         QStringLiteral("Records"), QStringLiteral("Points"), QStringLiteral("Highest, nSv/h")});
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_summary = new QLabel(this);

    auto button = [this](const char* text, const char* name) {
        auto* b = new QPushButton(QString::fromUtf8(text), this);
        b->setObjectName(QLatin1String(name));
        return b;
    };
    m_open = button("Open", "btnOpen");
    m_delete = button("Delete...", "btnDelete");
    m_push = button("Push to team", "btnPush");
    m_pull = button("Pull from team", "btnPull");
    QPushButton* close = button("Close", "btnClose");
    m_open->setDefault(true);
    m_push->setVisible(!m_team.isEmpty());
    m_pull->setVisible(!m_team.isEmpty());

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {m_open, m_delete, m_push, m_pull})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(m_summary);
    layout->addLayout(buttons);

    connect(m_open, &QPushButton::clicked, this, &SurveysDialog::open);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &SurveysDialog::open);
    connect(m_delete, &QPushButton::clicked, this, &SurveysDialog::removeChosen);
    connect(m_push, &QPushButton::clicked, this, [this] { copyWithTeam(true); });
    connect(m_pull, &QPushButton::clicked, this, [this] { copyWithTeam(false); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &SurveysDialog::updateButtons);
    fill();
    resize(900, 420);
}

int SurveysDialog::rowCount() const
{
    return m_table->rowCount();
}

void SurveysDialog::fill()
{
    std::vector<ArchivedDownload> list = m_archive.downloads();
    std::sort(list.begin(), list.end(), [](const ArchivedDownload& a, const ArchivedDownload& b) {
        return a.info.downloaded > b.info.downloaded ||
               (a.info.downloaded == b.info.downloaded && a.id > b.id);
    });
    m_table->setRowCount(0);
    m_ids.clear();
    qint64 points = 0;
    for (const ArchivedDownload& d : list) {
        const int row = m_table->rowCount();
        m_table->insertRow(row);
        m_ids.push_back(d.id);
        const DownloadInfo& i = d.info;
        m_table->setItem(row, 0, cell(localTime(i.downloaded, "yyyy-MM-dd HH:mm")));
        m_table->setItem(row, 1,
                         cell(i.family == QLatin1String("file")
                                  ? QStringLiteral("file ") + i.connection.section('/', -1)
                                  : (i.family + QLatin1Char(' ') + i.serial).trimmed()));
        m_table->setItem(row, 2, cell(period(d)));
        m_table->setItem(row, 3,
                         cell(i.missing > 0
                                  ? QStringLiteral("%1 of %2").arg(i.fetched).arg(i.listed)
                                  : QString::number(i.fetched),
                              true));
        m_table->setItem(row, 4, cell(QString::number(d.points), true));
        m_table->setItem(row, 5,
                         cell(std::isnan(d.maxDoseRate)
                                  ? QStringLiteral("-")
                                  : QString::number(d.maxDoseRate * 1000, 'f', 0),
                              true));
        points += d.points;
    }
    m_table->resizeColumnsToContents();
    m_summary->setText(
        QStringLiteral("%1 %2, %3 points in %4")
            .arg(list.size())
            .arg(list.size() == 1 ? QStringLiteral("download") : QStringLiteral("downloads"))
            .arg(points)
            .arg(m_archive.path()));
    if (m_table->rowCount() > 0)
        m_table->selectRow(0);
    updateButtons();
}

std::vector<qint64> SurveysDialog::selected() const
{
    std::vector<qint64> out;
    for (int row = 0; row < m_table->rowCount(); ++row)
        if (m_table->item(row, 0)->isSelected())
            out.push_back(m_ids[std::size_t(row)]);
    return out;
}

void SurveysDialog::updateButtons()
{
    const bool any = !selected().empty();
    m_open->setEnabled(any);
    m_delete->setEnabled(any);
}

void SurveysDialog::open()
{
    m_chosen = selected();
    if (!m_chosen.empty())
        accept();
}

void SurveysDialog::removeChosen()
{
    const std::vector<qint64> ids = selected();
    if (ids.empty())
        return;
    const QString text =
        ids.size() == 1
            ? QStringLiteral("Delete the chosen download from the archive? Its records and "
                             "points go too, unless another download shares them.")
            : QStringLiteral("Delete the %1 chosen downloads from the archive? Their records "
                             "and points go too, unless another download shares them.")
                  .arg(ids.size());
    if (!ui::confirm(this, QStringLiteral("Delete"), text))
        return;
    for (qint64 id : ids)
        if (!m_archive.remove(id)) {
            ui::showCriticalMessage(this, QStringLiteral("Error"), m_archive.lastError());
            break;
        }
    fill();
}

void SurveysDialog::copyWithTeam(bool push)
{
    TeamResult result;
    QString error;
    bool ok = false;
    runAside(this,
             push ? QStringLiteral("Pushing to the team database...")
                  : QStringLiteral("Pulling from the team database..."),
             [&] {
                 ok = push ? pushArchive(m_archive, m_team, &result, &error)
                           : pullArchive(m_archive, m_team, &result, &error);
             });
    if (!ok) {
        ui::showCriticalMessage(this, QStringLiteral("Error"), error);
        return;
    }
    if (!push)
        fill();
    m_summary->setText(QStringLiteral("%1 %2 downloads (%3 records, %4 points); %5 were there "
                                      "already.")
                           .arg(push ? QStringLiteral("Pushed") : QStringLiteral("Pulled"))
                           .arg(result.downloads)
                           .arg(result.records)
                           .arg(result.points)
                           .arg(result.alreadyThere));
}
