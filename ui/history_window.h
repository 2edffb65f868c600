#pragma once
// A station's rate over the last hour, day, week or month, drawn over the
// link-quality bands, with its current value and the span's minimum, median
// and maximum. Modeless: the sheet and the monitor go on while it is open.
#include <QWidget>

#include "history/station_chart.h"

#include <cstdint>
#include <string>
#include <vector>

class HistoryChartView;
class QCategoryAxis;
class QChart;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QValueAxis;

// The spans and the chart's data are the history's (history/station_chart.h).
using HistorySpan = history::HistorySpan;
using StationChart = history::StationChart;
using history::loadStationChart;

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    HistoryWindow(const QString& stationMac, QWidget* parent, HistorySpan span = HistorySpan::day);

    QString station() const { return station_; }
    HistorySpan span() const;
    void setSpan(HistorySpan span);
    // Reads the history again and redraws.
    void reload();
    // The title, the other stations' boxes and their lines with the names as they are now.
    void showNames();

    // The span shown: the whole of span() or what zoom picked within it.
    int64_t shownFromMs() const { return shownFrom_; }
    int64_t shownToMs() const { return shownTo_; }
    void zoomTo(int64_t fromMs, int64_t toMs);
    void resetZoom();
    // The shown span as CSV ("history --csv"'s columns) or, for a name ending
    // in .png, as a picture. False with the reason in *why.
    bool exportTo(const QString& path, QString* why);
    // Asks where, then exports: what "Export…" does.
    void exportAs();

    // The history database the windows read, and the clock their spans end at;
    // tests point both elsewhere. An empty path is the default place.
    static void setDatabasePath(const std::string& path);
    static const std::string& databasePath();
    static void setClock(int64_t (*nowMs)());

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void draw(const StationChart& chart);
    void showSpan();
    QString describe(const QString& line, const QPointF& point) const;

    QString station_;
    QComboBox* spanBox_;
    QChart* chart_;
    HistoryChartView* view_;
    QCategoryAxis* timeAxis_;
    QValueAxis* rateAxis_;
    QPushButton* exportButton_;
    QLabel* notRecording_;
    QWidget* figures_;
    std::vector<QCheckBox*> compare_;  // the table's other stations, drawn beside this one when checked
    int64_t spanFrom_ = 0, spanTo_ = 0, bucketMs_ = 0;
    int64_t shownFrom_ = 0, shownTo_ = 0;
    bool zoomed_ = false;
    QLabel* current_;
    QLabel* minimum_;
    QLabel* median_;
    QLabel* maximum_;
};

// The line that says history is not being recorded, and why; empty while it is.
QString notRecordingText();

// Opens the station's history window, or raises the one already open.
void openStationHistory(QWidget* owner, const QString& stationMac);
// Double-click, Ctrl+H and the context menu's "History…" on a station list.
void offerStationHistory(QTreeWidget* stationList);
