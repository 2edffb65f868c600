#pragma once
// A station's rate over the last hour, day, week or month, drawn over the
// link-quality bands, with its current value and the span's minimum, median
// and maximum. Modeless: the sheet and the monitor go on while it is open.
#include <QWidget>

#include "history/history.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QTreeWidget;
class QValueAxis;

enum class HistorySpan { hour, day, week, month };

// What the window draws for one station and span, read from the history.
struct StationChart {
    using Point = history::Series::Point;
    // Runs of points without a gap; a station that was not heard breaks the line.
    std::vector<std::vector<Point>> runs;
    std::optional<double> current;  // the newest sample of the station, if rated
    std::optional<double> minimum, median, maximum;  // over every sample of the span
    int64_t fromMs = 0, toMs = 0;
    int64_t bucketMs = 0;  // 0: every sample
    std::string error;     // the store could not be read: why, in one line
};

// The chart of `stationMac` ("aa:bb:..") over `span` ending at `nowMs`, from
// the history database at `path`. No database or no samples give empty runs;
// a store that cannot be read gives them too, with the reason in `error`.
StationChart loadStationChart(const std::string& path, const std::string& stationMac, HistorySpan span,
                              int64_t nowMs);

class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    HistoryWindow(const QString& stationMac, QWidget* parent, HistorySpan span = HistorySpan::day);

    QString station() const { return station_; }
    HistorySpan span() const;
    void setSpan(HistorySpan span);
    // Reads the history again and redraws.
    void reload();

    // The history database the windows read, and the clock their spans end at;
    // tests point both elsewhere. An empty path is the default place.
    static void setDatabasePath(const std::string& path);
    static void setClock(int64_t (*nowMs)());

private:
    void draw(const StationChart& chart);

    QString station_;
    QComboBox* spanBox_;
    QChart* chart_;
    QChartView* view_;
    QDateTimeAxis* timeAxis_;
    QValueAxis* rateAxis_;
    QLabel* current_;
    QLabel* minimum_;
    QLabel* median_;
    QLabel* maximum_;
};

// Opens the station's history window, or raises the one already open.
void openStationHistory(QWidget* owner, const QString& stationMac);
// Double-click and the context menu's "History…" on a station list.
void offerStationHistory(QTreeWidget* stationList);
