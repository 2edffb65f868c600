#include "ui/history_window.h"

#include "history/history.h"
#include "netstate/stations.h"

#include <QAction>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <chrono>
#include <climits>

namespace {

std::string databasePath;

int64_t systemNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t (*nowClock)() = systemNowMs;

constexpr int refreshMs = 30000;  // the monitor records twice a minute

QString rateText(const std::optional<double>& mbps)
{
    return mbps ? QString::asprintf("%.2f Mbps", *mbps) : QStringLiteral("*");
}

QColor bandColour(double mbps)
{
    const Rgb c = linkQualityFor(mbps).barColour;
    return QColor(c.red, c.green, c.blue, 60);
}

// A flat band from `low` to `high` across the span, behind the rate.
// An area does not own its edges: they go with it.
QAreaSeries* areaBetween(QLineSeries* upper, QLineSeries* lower)
{
    auto* area = new QAreaSeries(upper, lower);
    upper->setParent(area);
    lower->setParent(area);
    return area;
}

QAreaSeries* band(const char* name, double low, double high, double sample, qreal from, qreal to)
{
    auto* lower = new QLineSeries;
    lower->append(from, low);
    lower->append(to, low);
    auto* upper = new QLineSeries;
    upper->append(from, high);
    upper->append(to, high);
    auto* area = areaBetween(upper, lower);
    area->setName(QString::fromLatin1(name));
    area->setObjectName(QString::fromLatin1(name));
    area->setColor(bandColour(sample));
    area->setBorderColor(Qt::transparent);
    return area;
}

}  // namespace

HistoryWindow::HistoryWindow(const QString& stationMac, QWidget* parent, HistorySpan span)
    : QWidget(parent, Qt::Window), station_(stationMac), spanBox_(new QComboBox(this)), chart_(new QChart),
      view_(new QChartView(chart_, this)), timeAxis_(new QDateTimeAxis), rateAxis_(new QValueAxis),
      current_(new QLabel(this)), minimum_(new QLabel(this)), median_(new QLabel(this)), maximum_(new QLabel(this))
{
    setObjectName(QStringLiteral("historyWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("History of %1").arg(stationMac));
    resize(720, 440);

    spanBox_->setObjectName(QStringLiteral("historySpan"));
    spanBox_->addItems({QStringLiteral("Last hour"), QStringLiteral("Last day"), QStringLiteral("Last week"),
                        QStringLiteral("Last month")});
    spanBox_->setCurrentIndex(static_cast<int>(span));
    auto* stationLabel = new QLabel(QStringLiteral("Station %1").arg(stationMac), this);

    view_->setObjectName(QStringLiteral("historyChart"));
    view_->setRenderHint(QPainter::Antialiasing);
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(rateAxis_, Qt::AlignLeft);
    rateAxis_->setTitleText(QStringLiteral("Data Rate (Mbps)"));
    rateAxis_->setLabelFormat(QStringLiteral("%.1f"));

    current_->setObjectName(QStringLiteral("historyNow"));
    minimum_->setObjectName(QStringLiteral("historyMinimum"));
    median_->setObjectName(QStringLiteral("historyMedian"));
    maximum_->setObjectName(QStringLiteral("historyMaximum"));

    auto* top = new QHBoxLayout;
    top->addWidget(stationLabel);
    top->addStretch();
    top->addWidget(spanBox_);
    auto* figures = new QHBoxLayout;
    for (QLabel* l : {current_, minimum_, median_, maximum_})
        figures->addWidget(l);
    figures->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(view_, 1);
    layout->addLayout(figures);

    connect(spanBox_, &QComboBox::currentIndexChanged, this, &HistoryWindow::reload);
    auto* refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, &HistoryWindow::reload);
    refresh->start(refreshMs);
    reload();
}

HistorySpan HistoryWindow::span() const { return static_cast<HistorySpan>(spanBox_->currentIndex()); }

void HistoryWindow::setSpan(HistorySpan span) { spanBox_->setCurrentIndex(static_cast<int>(span)); }

void HistoryWindow::setDatabasePath(const std::string& path) { databasePath = path; }

void HistoryWindow::setClock(int64_t (*nowMs)()) { nowClock = nowMs ? nowMs : systemNowMs; }

void HistoryWindow::reload() { draw(loadStationChart(databasePath, station_.toStdString(), span(), nowClock())); }

void HistoryWindow::draw(const StationChart& c)
{
    chart_->removeAllSeries();
    const qreal from = static_cast<qreal>(c.fromMs), to = static_cast<qreal>(c.toMs);
    // Round figures on the rate axis; the bands fill it from bottom to top.
    rateAxis_->setRange(std::min(0.0, c.minimum.value_or(0.0)), std::max(c.maximum.value_or(0.0), excellentAboveMbps) * 1.1);
    rateAxis_->applyNiceNumbers();
    const double low = rateAxis_->min(), high = rateAxis_->max();

    std::vector<QAbstractSeries*> series = {
        band("Poor", low, fairFromMbps, 0.0, from, to),
        band("Fair", fairFromMbps, excellentAboveMbps, fairFromMbps, from, to),
        band("Excellent", excellentAboveMbps, high, excellentAboveMbps * 2, from, to),
    };
    // Means hide how low a bucket went: its lowest to highest sample shows behind them.
    for (const auto& run : c.runs) {
        if (c.bucketMs == 0)
            break;
        auto* lower = new QLineSeries;
        auto* upper = new QLineSeries;
        for (const StationChart::Point& p : run) {
            lower->append(static_cast<qreal>(p.utcMs), p.lowest);
            upper->append(static_cast<qreal>(p.utcMs), p.highest);
        }
        auto* range = areaBetween(upper, lower);
        range->setName(QStringLiteral("Lowest to highest"));
        range->setObjectName(QStringLiteral("range"));
        range->setColor(QColor(20, 60, 160, 50));
        range->setBorderColor(Qt::transparent);
        series.push_back(range);
    }
    for (const auto& run : c.runs) {
        auto* line = new QLineSeries;
        line->setName(QStringLiteral("Rate"));
        line->setObjectName(QStringLiteral("rate"));
        line->setColor(QColor(20, 60, 160));
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(run.size()));
        for (const StationChart::Point& p : run)
            points.append(QPointF(static_cast<qreal>(p.utcMs), p.mbps));
        line->replace(points);
        series.push_back(line);
    }
    bool rateInLegend = false, rangeInLegend = false;
    for (QAbstractSeries* s : series) {
        chart_->addSeries(s);
        s->attachAxis(timeAxis_);
        s->attachAxis(rateAxis_);
        // One legend entry each for the rate and its range, however many runs draw them.
        bool* shown = s->objectName() == QLatin1String("rate")    ? &rateInLegend
                      : s->objectName() == QLatin1String("range") ? &rangeInLegend
                                                                  : nullptr;
        if (shown) {
            for (QLegendMarker* m : chart_->legend()->markers(s))
                m->setVisible(!*shown);
            *shown = true;
        }
    }

    chart_->setTitle(!c.error.empty() ? QStringLiteral("The history could not be read: %1").arg(QString::fromStdString(c.error))
                     : c.runs.empty() ? QStringLiteral("No rate of this station was recorded in this span.")
                                      : QString());
    timeAxis_->setRange(QDateTime::fromMSecsSinceEpoch(c.fromMs), QDateTime::fromMSecsSinceEpoch(c.toMs));
    const HistorySpan s = span();
    timeAxis_->setFormat(s == HistorySpan::hour || s == HistorySpan::day ? QStringLiteral("HH:mm")
                         : s == HistorySpan::week                         ? QStringLiteral("ddd HH:mm")
                                                                          : QStringLiteral("d MMM"));
    timeAxis_->setTickCount(s == HistorySpan::hour ? 7 : s == HistorySpan::day ? 9 : 8);

    current_->setText(QStringLiteral("Now: %1").arg(rateText(c.current)));
    minimum_->setText(QStringLiteral("Minimum: %1").arg(rateText(c.minimum)));
    median_->setText(QStringLiteral("Median: %1").arg(rateText(c.median)));
    maximum_->setText(QStringLiteral("Maximum: %1").arg(rateText(c.maximum)));
}

void openStationHistory(QWidget* owner, const QString& stationMac)
{
    for (HistoryWindow* w : owner->findChildren<HistoryWindow*>()) {
        if (w->station() == stationMac) {
            w->showNormal();
            w->raise();
            w->activateWindow();
            return;
        }
    }
    auto* window = new HistoryWindow(stationMac, owner);
    window->show();
}

void offerStationHistory(QTreeWidget* list)
{
    QObject::connect(list, &QTreeWidget::itemDoubleClicked, list, [list](QTreeWidgetItem* item) {
        openStationHistory(list->window(), item->text(0));
    });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QWidget::customContextMenuRequested, list, [list](const QPoint& at) {
        QTreeWidgetItem* item = list->itemAt(at);
        if (!item)
            return;
        QMenu menu(list);
        menu.setObjectName(QStringLiteral("stationMenu"));
        const QString station = item->text(0);
        menu.addAction(QStringLiteral("History\u2026"), list, [list, station] { openStationHistory(list->window(), station); });
        menu.exec(list->viewport()->mapToGlobal(at));
    });
}

namespace {

int64_t spanMs(HistorySpan span)
{
    constexpr int64_t hour = 3600000;
    switch (span) {
    case HistorySpan::hour:
        return hour;
    case HistorySpan::day:
        return 24 * hour;
    case HistorySpan::week:
        return 7 * 24 * hour;
    case HistorySpan::month:
        break;
    }
    return 30 * 24 * hour;
}

// Long spans are drawn as the mean of each bucket: a few hundred points
// whatever the span, where a month holds some 86,000 samples of a station.
int64_t bucketFor(HistorySpan span)
{
    constexpr int64_t minute = 60000;
    switch (span) {
    case HistorySpan::hour:
        return 0;
    case HistorySpan::day:
        return 5 * minute;
    case HistorySpan::week:
        return 30 * minute;
    case HistorySpan::month:
        break;
    }
    return 120 * minute;
}

// Samples come twice a minute while anything records; a longer silence is a gap.
constexpr int64_t sampleGapMs = 150000;

}  // namespace

StationChart loadStationChart(const std::string& path, const std::string& stationMac, HistorySpan span, int64_t nowMs)
{
    StationChart c;
    c.toMs = nowMs;
    c.fromMs = nowMs - spanMs(span);
    c.bucketMs = bucketFor(span);
    history::Store store;
    if (!store.open(path.empty() ? history::defaultPath() : path, history::Store::Mode::readOnly)) {
        // A store not made yet is no error: nothing was recorded.
        if (store.error().find("No such file") == std::string::npos &&
            store.error().find("holds no history yet") == std::string::npos)
            c.error = store.error();
        return c;
    }
    history::Filter filter;
    filter.station = stationMac;
    filter.sinceMs = c.fromMs;
    filter.untilMs = nowMs + 1;
    // One pass over the span's samples gives the figures and the buckets both.
    const std::vector<history::Sample> samples = store.samples(filter);
    if (store.failed())
        c.error = store.error();
    if (samples.empty())
        return c;
    history::Series series = history::seriesOf(samples, c.bucketMs, sampleGapMs);
    c.runs = std::move(series.runs);
    c.current = series.current;
    c.minimum = series.minimum;
    c.median = series.median;
    c.maximum = series.maximum;
    return c;
}
