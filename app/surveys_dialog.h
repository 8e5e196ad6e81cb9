// Surveys...: the archived downloads, newest first, to open onto the map,
// delete, or copy to and from the team database.
#pragma once

#include <QDialog>
#include <QString>

#include <vector>

class QLabel;
class QPushButton;
class QTableWidget;
class SurveyArchive;

class SurveysDialog : public QDialog
{
    Q_OBJECT

public:
    // `team`: the team database's connection string; empty hides push and pull.
    SurveysDialog(SurveyArchive& archive, QString team, QWidget* parent = nullptr);

    // The downloads chosen with Open, in the list's order.
    const std::vector<qint64>& chosen() const { return m_chosen; }
    int rowCount() const;

private:
    void fill();
    std::vector<qint64> selected() const;
    void open();
    void removeChosen();
    void copyWithTeam(bool push);
    void updateButtons();

    SurveyArchive& m_archive;
    QString m_team;
    QTableWidget* m_table;
    QLabel* m_summary;
    QPushButton *m_open, *m_delete, *m_push, *m_pull;
    std::vector<qint64> m_ids; // per row
    std::vector<qint64> m_chosen;
};
