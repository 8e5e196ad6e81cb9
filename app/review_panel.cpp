#include "review_panel.h"

#include "survey_summary.h"

#include <dose_scale.h>
#include <survey_text.h>

#include <QDateTime>
#include <QDateTimeEdit>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

using namespace survey_summary;

namespace {

// Rows of the checks list after "All points" and "Good points", by bit.
constexpr int kFlagTimeBit = 3, kFlagWarmUpBit = 6;
static_assert(kFlagTime == 1u << kFlagTimeBit && kFlagWarmUp == 1u << kFlagWarmUpBit);

// The hottest places listed, and how close points must be to count as one.
constexpr std::size_t kHotPlaces = 10;
constexpr double kHotRadiusMetres = 50;

QDateTime utc(uint32_t seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

} // namespace

ReviewPanel::ReviewPanel(QWidget* parent) : QWidget(parent)
{
    auto* tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("reviewTabs"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(tabs);

    // Checks: one line per check with its count; choosing one shows its points.
    auto* checksPage = new QWidget(tabs);
    auto* checksLayout = new QVBoxLayout(checksPage);
    checks = new QListWidget(checksPage);
    checks->setObjectName(QStringLiteral("reviewChecks"));
    checksLayout->addWidget(checks, 1);
    connect(checks, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            chooseCheck(checks->item(row)->data(Qt::UserRole).toInt());
    });

    auto* rangeForm = new QFormLayout;
    from = new QDateTimeEdit(checksPage);
    to = new QDateTimeEdit(checksPage);
    from->setObjectName(QStringLiteral("rangeFrom"));
    to->setObjectName(QStringLiteral("rangeTo"));
    for (QDateTimeEdit* edit : {from, to}) {
        edit->setTimeSpec(Qt::UTC);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    rangeForm->addRow(QStringLiteral("From (UTC):"), from);
    rangeForm->addRow(QStringLiteral("To (UTC):"), to);
    checksLayout->addLayout(rangeForm);
    auto* rangeButtons = new QHBoxLayout;
    auto* apply = new QPushButton(QStringLiteral("Show range"), checksPage);
    apply->setObjectName(QStringLiteral("applyRange"));
    auto* all = new QPushButton(QStringLiteral("Show all"), checksPage);
    all->setObjectName(QStringLiteral("showAllPoints"));
    rangeButtons->addWidget(apply);
    rangeButtons->addWidget(all);
    rangeControls = {from, to, apply, all};
    checksLayout->addLayout(rangeButtons);
    connect(apply, &QPushButton::clicked, this, &ReviewPanel::applyTypedRange);
    for (QDateTimeEdit* edit : {from, to})
        connect(edit, &QDateTimeEdit::editingFinished, this, &ReviewPanel::applyTypedRange);
    connect(all, &QPushButton::clicked, this, [this] {
        timeRange.reset();
        check = kAllPoints;
        checks->setCurrentRow(0);
        applyFilter();
    });
    filterLabel = new QLabel(checksPage);
    filterLabel->setObjectName(QStringLiteral("filterText"));
    filterLabel->setWordWrap(true);
    checksLayout->addWidget(filterLabel);
    tabs->addTab(checksPage, QStringLiteral("Checks"));

    // Statistics of what is shown, and the hottest places.
    auto* statsPage = new QWidget(tabs);
    auto* statsLayout = new QVBoxLayout(statsPage);
    form = new QFormLayout;
    form->setVerticalSpacing(2);
    for (const auto& [key, label] : kStatRows) {
        auto* value = new QLabel(statsPage);
        value->setObjectName(QStringLiteral("stat_") + QLatin1String(key));
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        form->addRow(QLatin1String(label), value);
        values.push_back(value);
    }
    statsLayout->addLayout(form);
    centreMaximum = new QPushButton(QStringLiteral("Centre on the maximum"), statsPage);
    centreMaximum->setObjectName(QStringLiteral("centreMaximum"));
    connect(centreMaximum, &QPushButton::clicked, this, [this] {
        if (statistics.maxIndex >= 0)
            emit centreOn(int(statistics.maxIndex));
    });
    statsLayout->addWidget(centreMaximum);
    statsLayout->addWidget(new QLabel(
        QStringLiteral("Hottest places (within %1 m):").arg(kHotRadiusMetres), statsPage));
    hottestList = new QListWidget(statsPage);
    hottestList->setObjectName(QStringLiteral("hottestPlaces"));
    statsLayout->addWidget(hottestList, 1);
    connect(hottestList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { emit centreOn(item->data(Qt::UserRole).toInt()); });
    tabs->addTab(statsPage, QStringLiteral("Statistics"));
    setSurvey(nullptr, {}, {}, limits);
}

ReviewPanel::~ReviewPanel() = default;

void ReviewPanel::setSurvey(const std::vector<SurveyPoint>* surveyPoints,
                            std::vector<uint16_t> flags, std::vector<int> records,
                            const CheckLimits& checkLimits)
{
    points = surveyPoints;
    pointFlags = std::move(flags);
    recordOf = std::move(records);
    limits = checkLimits;
    order = points ? recordingOrder(*points) : std::vector<std::size_t>();
    timeRange.reset();
    check = kAllPoints;
    uint32_t first = 0, last = 0;
    for (std::size_t i : order) {
        if (!pointFlags.empty() && pointFlags[i] & kFlagTime)
            continue;
        const uint32_t t = (*points)[i].time;
        first = first ? std::min(first, t) : t;
        last = std::max(last, t);
    }
    // Without a survey there is nothing to filter, and no 1970 to show.
    const bool any = first > 0;
    const QDateTime today = QDateTime(QDateTime::currentDateTimeUtc().date(), QTime(), Qt::UTC);
    from->setDateTime(any ? utc(first) : today);
    to->setDateTime(any ? utc(last) : today);
    for (QWidget* control : rangeControls)
        control->setEnabled(any);
    fillChecks();
    applyFilter();
}

void ReviewPanel::fillChecks()
{
    const QSignalBlocker quiet(checks);
    checks->clear();
    const std::size_t total = points ? points->size() : 0;
    const std::vector<std::size_t> counts = countFlags(pointFlags);
    const std::size_t good =
        std::size_t(std::count(pointFlags.begin(), pointFlags.end(), uint16_t(0)));
    auto add = [this](const QString& text, std::size_t count, int choice) {
        auto* item = new QListWidgetItem(QStringLiteral("%1: %2").arg(text).arg(count), checks);
        item->setData(Qt::UserRole, choice);
    };
    add(QStringLiteral("All points"), total, kAllPoints);
    add(QStringLiteral("Good points"), pointFlags.empty() ? total : good, kGoodPoints);
    for (int bit = 0; bit < kSurveyFlagCount; ++bit)
        add(checkLabel(bit, limits), counts[std::size_t(bit)], bit);
    checks->item(2 + kFlagTimeBit)
        ->setToolTip(QStringLiteral("Outside its record's period, going backwards or repeated"));
    checks->item(2 + kFlagWarmUpBit)
        ->setToolTip(
            QStringLiteral("After a gap of %1 s or more in the times").arg(limits.offGapSeconds));
    checks->setCurrentRow(0);
}

void ReviewPanel::chooseCheck(int choice)
{
    check = choice;
    for (int row = 0; row < checks->count(); ++row)
        if (checks->item(row)->data(Qt::UserRole).toInt() == choice &&
            checks->currentRow() != row) {
            const QSignalBlocker quiet(checks);
            checks->setCurrentRow(row);
        }
    applyFilter();
}

void ReviewPanel::setRange(std::optional<Range> range)
{
    timeRange = range;
    if (range) {
        const QSignalBlocker quietFrom(from), quietTo(to);
        from->setDateTime(utc(range->first));
        to->setDateTime(utc(range->second));
    }
    applyFilter();
}

void ReviewPanel::applyTypedRange()
{
    const qint64 first = from->dateTime().toSecsSinceEpoch();
    const qint64 last = to->dateTime().toSecsSinceEpoch();
    if (first < 0 || last < first)
        return;
    const Range typed{uint32_t(first), uint32_t(std::min<qint64>(last, UINT32_MAX))};
    if (timeRange != typed)
        setRange(typed);
}

void ReviewPanel::applyFilter()
{
    const std::size_t total = points ? points->size() : 0;
    shownPoints.clear();
    if ((timeRange || check != kAllPoints) && total > 0) {
        shownPoints.assign(total, 1);
        const SurveyPoint* p = points->data();
        const uint16_t* f = pointFlags.empty() ? nullptr : pointFlags.data();
        const uint16_t mask = check >= 0 ? uint16_t(1u << check) : 0;
        for (std::size_t i = 0; i < total; ++i) {
            const uint16_t flags = f ? f[i] : 0;
            bool on =
                !timeRange || (p[i].time >= timeRange->first && p[i].time <= timeRange->second);
            if (check == kGoodPoints)
                on = on && flags == 0;
            else if (check >= 0)
                on = on && (flags & mask);
            shownPoints[i] = on;
        }
    }
    filterLabel->setText(filtered() ? QStringLiteral("Shown: %1 of %2 points (%3).")
                                          .arg(shownCount())
                                          .arg(total)
                                          .arg(filterText())
                                    : QString());
    showStatistics();
    emit shownChanged();
}

int ReviewPanel::shownCount() const
{
    if (!filtered())
        return points ? int(points->size()) : 0;
    return int(std::count(shownPoints.begin(), shownPoints.end(), char(1)));
}

QString ReviewPanel::filterText() const
{
    QStringList parts;
    if (timeRange)
        parts << QStringLiteral("%1 to %2")
                     .arg(timeText(timeRange->first), timeText(timeRange->second));
    if (check == kGoodPoints)
        parts << QStringLiteral("good points");
    else if (check >= 0)
        parts << checkLabel(check, limits).toLower();
    return parts.join(QStringLiteral(", "));
}

void ReviewPanel::showStatistics()
{
    static const std::vector<SurveyPoint> none;
    const std::vector<SurveyPoint>& survey = points ? *points : none;
    statistics =
        surveyStats(survey, pointFlags, order, shownPoints, recordOf, limits.offGapSeconds);
    places = hottestPlaces(survey, pointFlags, shownPoints, kHotPlaces, kHotRadiusMetres);

    const SurveyStats& s = statistics;
    const std::vector<QString> texts = statisticsValues(s, survey, !recordOf.empty());
    for (std::size_t row = 0; row < texts.size(); ++row)
        values[row]->setText(texts[row]);
    centreMaximum->setEnabled(s.maxIndex >= 0);

    hottestList->clear();
    int rank = 0;
    for (const HotPlace& place : places) {
        const SurveyPoint& top = survey[place.index];
        auto* item = new QListWidgetItem(QStringLiteral("%1. %2, %3 points\n    %4")
                                             .arg(++rank)
                                             .arg(doseText(place.doseRate))
                                             .arg(place.points)
                                             .arg(placeText(top)),
                                         hottestList);
        item->setData(Qt::UserRole, int(place.index));
        item->setToolTip(survey_text::time(top));
    }
}
