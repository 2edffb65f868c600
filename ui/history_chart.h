#pragma once
// The History window's chart view: a read-out of the point nearest the
// pointer, zoom by dragging across a span or by the wheel, a double-click back
// to the whole span; and the time axis's ticks at round local times.
#include <QChartView>
#include <QString>

#include <functional>
#include <vector>

class QGraphicsEllipseItem;
class QLabel;
class QRubberBand;

struct TimeTick {
    qint64 utcMs;
    QString label;  // "06:00"; the first tick and each on a new day carry the date
};

// Ticks at round local times (a minute to a week apart) within [fromMs, toMs],
// at most `most` of them.
std::vector<TimeTick> timeTicks(qint64 fromMs, qint64 toMs, int most);

// The local zone at `utcMs` as the axis names it: "IST, UTC+05:30".
QString zoneText(qint64 utcMs);

class HistoryChartView : public QChartView {
public:
    HistoryChartView(QChart* chart, QWidget* parent);

    // What the read-out says of a point of a line named `line`.
    std::function<QString(const QString& line, const QPointF& point)> describe;
    // A span chosen by dragging or the wheel, in x values; and back to the whole.
    std::function<void(qreal from, qreal to)> zoomTo;
    std::function<void()> zoomReset;

    // The read-out of the drawn point nearest `at` (viewport coordinates).
    void showNearest(const QPoint& at);
    void hideReadout();
    // Empty while hidden.
    QString readout() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    qreal valueAt(int viewportX) const;

    QLabel* readout_;
    QGraphicsEllipseItem* marker_;
    QRubberBand* band_;
    int pressX_ = -1;
};
