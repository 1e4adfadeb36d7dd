#pragma once
#include <QDialog>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QTreeWidget;
struct ShiftReport;

// Labelled bars, one a row, longest for the largest value: units per hour,
// failures per slot (a bad jig stands out as one slot's long bar).
class CBarChart : public QWidget {
public:
    CBarChart(const QString& title, QWidget* parent);
    void SetBars(std::vector<std::pair<QString, int>> bars);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_title;
    std::vector<std::pair<QString, int>> m_bars;
};

// File > Report: the shift's report of the bench's log, as orbix-flash report
// prints it, with its charts.
class CReportWindow : public QDialog {
public:
    CReportWindow(const std::string& log, QWidget* parent);
    // Reads the log again; false with the reason shown when it cannot be read.
    bool Reload();
    const QString& Summary() const;

private:
    void Show(const ShiftReport& report);

    std::string m_log;
    QLabel* m_summary = nullptr;
    QTreeWidget* m_tallies = nullptr;
    CBarChart* m_perHour = nullptr;
    CBarChart* m_failuresPerSlot = nullptr;
    QString m_summaryText;
};
