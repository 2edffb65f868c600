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

class HistoryChartView;
class QCategoryAxis;
class QChart;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
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
