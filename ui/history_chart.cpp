#include "ui/history_chart.h"

#include <QDateTime>
#include <QGraphicsEllipseItem>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QRubberBand>
#include <QValueAxis>
#include <QWheelEvent>

#include <cmath>
#include <limits>

std::vector<TimeTick> timeTicks(qint64 fromMs, qint64 toMs, int most)
{
    std::vector<TimeTick> ticks;
    if (toMs <= fromMs || most < 1)
        return ticks;
    // Minutes apart; from a day on, whole days counted from a Monday.
    static const int steps[] = {1, 2, 5, 10, 15, 30, 60, 120, 180, 360, 720, 1440, 2880, 10080};
    int step = steps[std::size(steps) - 1];
    for (int s : steps) {
        if ((toMs - fromMs) / (s * 60000LL) < most) {
            step = s;
            break;
        }
    }
    const QDate first = QDateTime::fromMSecsSinceEpoch(fromMs).date();
    const QDate last = QDateTime::fromMSecsSinceEpoch(toMs).date();
    QDate shownDate;
    // Wall-clock times of each day, so that a tick stays on the hour across a
    // change of summer time.
    for (QDate d = first; d <= last; d = d.addDays(1)) {
        if (step >= 1440 && (d.toJulianDay() % (step / 1440)) != 0)
            continue;
        for (int m = 0; m < 1440; m += step) {
            const QDateTime t(d, QTime(m / 60, m % 60));
            const qint64 ms = t.toMSecsSinceEpoch();
            if (ms < fromMs || ms > toMs || (!ticks.empty() && ms <= ticks.back().utcMs))
                continue;
            QString label;
            if (shownDate.isValid() && t.date() == shownDate)
                label = t.toString(QStringLiteral("HH:mm"));
            else if (t.time() == QTime(0, 0))
                label = t.toString(QStringLiteral("ddd d MMM"));
            else
                label = t.toString(QStringLiteral("d MMM HH:mm"));
            shownDate = t.date();
            ticks.push_back({ms, label});
        }
    }
    return ticks;
}

QString zoneText(qint64 utcMs)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(utcMs);
    const int offset = t.offsetFromUtc() / 60;
    const QString utc = QStringLiteral("UTC%1%2:%3")
                            .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                            .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
                            .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
    const QString name = t.timeZoneAbbreviation();
    if (offset == 0 && (name.isEmpty() || name == QLatin1String("UTC")))
        return QStringLiteral("UTC");
    return name.isEmpty() ? utc : name + QStringLiteral(", ") + utc;
}

HistoryChartView::HistoryChartView(QChart* chart, QWidget* parent)
    : QChartView(chart, parent), readout_(new QLabel(viewport())), marker_(new QGraphicsEllipseItem(chart)),
      band_(new QRubberBand(QRubberBand::Rectangle, viewport()))
{
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    readout_->setObjectName(QStringLiteral("historyReadout"));
    readout_->setAccessibleName(QStringLiteral("Point under the pointer"));
    readout_->setAutoFillBackground(true);
    readout_->setBackgroundRole(QPalette::ToolTipBase);
    readout_->setForegroundRole(QPalette::ToolTipText);
    readout_->setFrameShape(QFrame::Box);
    readout_->setMargin(4);
    readout_->setAttribute(Qt::WA_TransparentForMouseEvents);
    readout_->hide();
    marker_->setRect(-5, -5, 10, 10);
    marker_->setPen(QPen(QColor(20, 60, 160), 2));
    marker_->setBrush(Qt::white);
    marker_->setZValue(100);
    marker_->hide();
    band_->hide();
}

QString HistoryChartView::readout() const { return readout_->isVisible() ? readout_->text() : QString(); }

void HistoryChartView::hideReadout()
{
    readout_->hide();
    marker_->hide();
}

void HistoryChartView::showNearest(const QPoint& at)
{
    const QPointF here = chart()->mapFromScene(mapToScene(at));
    if (!chart()->plotArea().adjusted(-8, -8, 8, 8).contains(here) || !describe) {
        hideReadout();
        return;
    }
    QLineSeries* bestLine = nullptr;
    QPointF best, bestAt;
    qreal bestDistance = std::numeric_limits<qreal>::max();
    for (QAbstractSeries* s : chart()->series()) {
        auto* line = qobject_cast<QLineSeries*>(s);
        if (!line || !line->isVisible() || line->property("readable").toString().isEmpty())
            continue;
        for (const QPointF& p : line->points()) {
            const QPointF pos = chart()->mapToPosition(p, line);
            if (!chart()->plotArea().adjusted(-1, -1, 1, 1).contains(pos))
                continue;
            const qreal d = std::hypot(pos.x() - here.x(), pos.y() - here.y());
            if (d < bestDistance) {
                bestDistance = d;
                best = p;
                bestAt = pos;
                bestLine = line;
            }
        }
    }
    if (!bestLine) {
        hideReadout();
        return;
    }
    marker_->setPos(bestAt);
    marker_->show();
    readout_->setText(describe(bestLine->property("readable").toString(), best));
    readout_->adjustSize();
    // Beside the point, on whichever side leaves it inside the view.
    const QPoint point = mapFromScene(chart()->mapToScene(bestAt));
    QPoint place = point + QPoint(12, -readout_->height() - 12);
    if (place.x() + readout_->width() > viewport()->width())
        place.setX(point.x() - readout_->width() - 12);
    if (place.y() < 0)
        place.setY(point.y() + 12);
    readout_->move(place);
    readout_->show();
    readout_->raise();
}

qreal HistoryChartView::valueAt(int viewportX) const
{
    const QPointF inChart = chart()->mapFromScene(mapToScene(QPoint(viewportX, 0)));
    return chart()->mapToValue(QPointF(inChart.x(), chart()->plotArea().center().y())).x();
}

void HistoryChartView::mousePressEvent(QMouseEvent* event)
{
    const QPointF here = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    if (event->button() == Qt::LeftButton && chart()->plotArea().contains(here)) {
        pressX_ = event->position().toPoint().x();
        const QRectF plot = chart()->mapRectToScene(chart()->plotArea());
        const QRect area = mapFromScene(plot).boundingRect();
        band_->setGeometry(QRect(pressX_, area.top(), 1, area.height()));
        band_->show();
        event->accept();
        return;
    }
    QChartView::mousePressEvent(event);
}

void HistoryChartView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    if (pressX_ >= 0) {
        QRect r = band_->geometry();
        band_->setGeometry(QRect(std::min(pressX_, at.x()), r.top(), std::abs(at.x() - pressX_) + 1, r.height()));
        hideReadout();
        event->accept();
        return;
    }
    showNearest(at);
    QChartView::mouseMoveEvent(event);
}

void HistoryChartView::mouseReleaseEvent(QMouseEvent* event)
{
    if (pressX_ >= 0 && event->button() == Qt::LeftButton) {
        const int from = std::min(pressX_, event->position().toPoint().x());
        const int to = std::max(pressX_, event->position().toPoint().x());
        pressX_ = -1;
        band_->hide();
        // A click that hardly moved is no span.
        if (to - from >= 4 && zoomTo)
            zoomTo(valueAt(from), valueAt(to));
        event->accept();
        return;
    }
    QChartView::mouseReleaseEvent(event);
}

void HistoryChartView::mouseDoubleClickEvent(QMouseEvent* event)
{
    pressX_ = -1;
    band_->hide();
    if (event->button() == Qt::LeftButton && zoomReset) {
        zoomReset();
        event->accept();
        return;
    }
    QChartView::mouseDoubleClickEvent(event);
}

void HistoryChartView::wheelEvent(QWheelEvent* event)
{
    auto axes = chart()->axes(Qt::Horizontal);
    auto* axis = axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
    const int delta = event->angleDelta().y();
    if (!axis || delta == 0 || !zoomTo) {
        QChartView::wheelEvent(event);
        return;
    }
    // Each notch a fifth closer (or back out) around the time under the pointer.
    const qreal factor = std::pow(0.8, delta / 120.0);
    const qreal x = valueAt(event->position().toPoint().x());
    zoomTo(x - (x - axis->min()) * factor, x + (axis->max() - x) * factor);
    hideReadout();
    event->accept();
}

void HistoryChartView::leaveEvent(QEvent* event)
{
    hideReadout();
    QChartView::leaveEvent(event);
}
