// The review of a survey beside the map: how many points each check
// flagged, which points are shown (one check's, a time range's), and the
// statistics and hottest places of what is shown.
#pragma once

#include <survey_checks.h>
#include <survey_point.h>
#include <survey_stats.h>

#include <QWidget>

#include <optional>
#include <utility>
#include <vector>

class QDateTimeEdit;
class QFormLayout;
class QLabel;
class QListWidget;
class QPushButton;

class ReviewPanel : public QWidget
{
    Q_OBJECT

public:
    using Range = std::pair<uint32_t, uint32_t>; // seconds since 1970 UTC, both included

    // What the checks list offers beside each check.
    enum Choice { kAllPoints = -1, kGoodPoints = -2 };

    explicit ReviewPanel(QWidget* parent = nullptr);
    ~ReviewPanel() override;

    // A new survey: its points (kept by reference until the next), their
    // flags and the record of each (empty: unknown). Shows everything.
    void setSurvey(const std::vector<SurveyPoint>* points, std::vector<uint16_t> flags,
                   std::vector<int> recordOf, const CheckLimits& limits);
    const std::vector<uint16_t>& flags() const { return pointFlags; }

    // Which points are shown, by survey index (empty: all), and whether
    // anything is left out.
    const std::vector<char>& shown() const { return shownPoints; }
    bool filtered() const { return !shownPoints.empty(); }
    int shownCount() const;
    // A filter in words for the surveyor ("12:03:10 to 12:41:55 UTC").
    QString filterText() const;

    // A time range chosen elsewhere (the chart); none: the whole survey.
    void setRange(std::optional<Range> range);
    std::optional<Range> range() const { return timeRange; }
    // One of the checks (its bit number) or a Choice.
    void chooseCheck(int choice);
    int chosenCheck() const { return check; }

    const SurveyStats& stats() const { return statistics; }
    bool recordsKnown() const { return !recordOf.empty(); }
    const CheckLimits& checkLimits() const { return limits; }
    const std::vector<HotPlace>& hottest() const { return places; }

signals:
    // What is shown changed: the map, the chart and the export follow.
    void shownChanged();
    void centreOn(int surveyIndex);

private:
    void applyFilter();
    void showStatistics();
    void fillChecks();
    void applyTypedRange();

    const std::vector<SurveyPoint>* points = nullptr;
    std::vector<uint16_t> pointFlags;
    std::vector<int> recordOf;
    std::vector<std::size_t> order;
    CheckLimits limits;
    std::optional<Range> timeRange;
    int check = kAllPoints;
    std::vector<char> shownPoints;
    SurveyStats statistics;
    std::vector<HotPlace> places;

    QListWidget* checks;
    QDateTimeEdit* from;
    QDateTimeEdit* to;
    QFormLayout* form;
    QLabel* filterLabel;
    QPushButton* centreMaximum;
    QListWidget* hottestList;
    std::vector<QLabel*> values;
    std::vector<QWidget*> rangeControls;
};
