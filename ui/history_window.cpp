#include "ui/history_window.h"

#include "history/history.h"
#include "session/recording.h"
#include "session/session.h"
#include "ui/history_chart.h"
#include "ui/station_names.h"

#include <QAction>
#include <QAreaSeries>
#include <QCategoryAxis>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <chrono>
#include <climits>

namespace {

std::string historyPath;

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

// The shortest span zoom goes down to: a few samples.
constexpr int64_t shortestShownMs = 120000;

}  // namespace

QString notRecordingText()
{
    const std::string& why = session::historyProblem();
    return why.empty() ? QString()
                       : QStringLiteral("History is not being recorded: %1.").arg(QString::fromStdString(why));
}

HistoryWindow::HistoryWindow(const QString& stationMac, QWidget* parent, HistorySpan span)
    : QWidget(parent, Qt::Window), station_(stationMac), spanBox_(new QComboBox(this)), chart_(new QChart),
      view_(new HistoryChartView(chart_, this)), timeAxis_(new QCategoryAxis), rateAxis_(new QValueAxis),
      exportButton_(new QPushButton(QStringLiteral("Export\u2026"), this)), notRecording_(new QLabel(this)),
      figures_(new QWidget(this)), current_(new QLabel(figures_)), minimum_(new QLabel(figures_)),
      median_(new QLabel(figures_)), maximum_(new QLabel(figures_))
{
    setObjectName(QStringLiteral("historyWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(historyTitle(stationMac));
    resize(720, 440);

    spanBox_->setObjectName(QStringLiteral("historySpan"));
    spanBox_->addItems({QStringLiteral("Last hour"), QStringLiteral("Last day"), QStringLiteral("Last week"),
                        QStringLiteral("Last month")});
    spanBox_->setCurrentIndex(static_cast<int>(span));
    auto* stationLabel = new QLabel(QStringLiteral("Station %1").arg(stationMac), this);

    view_->setObjectName(QStringLiteral("historyChart"));
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setToolTip(
        QStringLiteral("Drag across a span or turn the wheel to zoom; double-click shows the whole span."));
    view_->describe = [this](const QString& line, const QPointF& p) { return describe(line, p); };
    view_->zoomTo = [this](qreal from, qreal to) { zoomTo(static_cast<int64_t>(from), static_cast<int64_t>(to)); };
    view_->zoomReset = [this] { resetZoom(); };
    chart_->legend()->setAlignment(Qt::AlignBottom);
    chart_->addAxis(timeAxis_, Qt::AlignBottom);
    chart_->addAxis(rateAxis_, Qt::AlignLeft);
    timeAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    rateAxis_->setTitleText(QStringLiteral("Data Rate (Mbps)"));
    rateAxis_->setLabelFormat(QStringLiteral("%.1f"));

    exportButton_->setObjectName(QStringLiteral("historyExport"));
    exportButton_->setToolTip(QStringLiteral("Save the span shown as CSV or as a PNG picture"));
    connect(exportButton_, &QPushButton::clicked, this, &HistoryWindow::exportAs);
    notRecording_->setObjectName(QStringLiteral("historyNotRecording"));
    notRecording_->setWordWrap(true);
    notRecording_->setStyleSheet(QStringLiteral("color: #a00000; font-weight: bold"));
    current_->setObjectName(QStringLiteral("historyNow"));
    minimum_->setObjectName(QStringLiteral("historyMinimum"));
    median_->setObjectName(QStringLiteral("historyMedian"));
    maximum_->setObjectName(QStringLiteral("historyMaximum"));
    figures_->setObjectName(QStringLiteral("historyFigures"));
    figures_->setAccessibleName(QStringLiteral("Rate figures of the span"));

    auto* top = new QHBoxLayout;
    top->addWidget(stationLabel);
    top->addStretch();
    top->addWidget(spanBox_);
    top->addWidget(exportButton_);
    auto* figures = new QHBoxLayout(figures_);
    figures->setContentsMargins(0, 0, 0, 0);
    for (QLabel* l : {current_, minimum_, median_, maximum_})
        figures->addWidget(l);
    figures->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    // Other stations of the table over the same span, each a line of its own.
    auto* compare = new QHBoxLayout;
    for (const session::StationRow& row : session::currentStations().stations) {
        const QString mac = QString::fromStdString(row.mac);
        if (mac == stationMac)
            continue;
        auto* box = new QCheckBox(namedMac(mac), this);
        box->setObjectName(QStringLiteral("compare"));
        box->setProperty("mac", mac);
        box->setAccessibleName(QStringLiteral("Compare with %1").arg(mac));
        connect(box, &QCheckBox::toggled, this, &HistoryWindow::reload);
        compare->addWidget(box);
        compare_.push_back(box);
    }
    if (!compare_.empty())
        compare->insertWidget(0, new QLabel(QStringLiteral("Compare with:"), this));
    compare->addStretch();
    layout->addLayout(compare);
    layout->addWidget(notRecording_);
    layout->addWidget(view_, 1);
    layout->addWidget(figures_);

    for (const QKeySequence& keys :
         {QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close), QKeySequence(Qt::CTRL | Qt::Key_W)})
        connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);

    connect(spanBox_, &QComboBox::currentIndexChanged, this, [this] {
        zoomed_ = false;
        reload();
    });
    auto* refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, &HistoryWindow::reload);
    refresh->start(refreshMs);
    reload();
}

HistorySpan HistoryWindow::span() const { return static_cast<HistorySpan>(spanBox_->currentIndex()); }

void HistoryWindow::setSpan(HistorySpan span) { spanBox_->setCurrentIndex(static_cast<int>(span)); }

void HistoryWindow::setDatabasePath(const std::string& path) { historyPath = path; }

const std::string& HistoryWindow::databasePath() { return historyPath; }

void HistoryWindow::setClock(int64_t (*nowMs)()) { nowClock = nowMs ? nowMs : systemNowMs; }

void HistoryWindow::showNames()
{
    setWindowTitle(historyTitle(station_));
    for (QCheckBox* box : compare_) {
        const QString was = box->text(), now = namedMac(box->property("mac").toString());
        box->setText(now);
        for (QAbstractSeries* s : chart_->series())
            if (s->objectName() == QLatin1String("compare") && s->name() == was) {
                s->setName(now);
                s->setProperty("readable", now);
            }
    }
}

void HistoryWindow::reload()
{
    const QString why = notRecordingText();
    notRecording_->setText(why);
    notRecording_->setVisible(!why.isEmpty());
    draw(loadStationChart(historyPath, station_.toStdString(), span(), nowClock()));
}

void HistoryWindow::zoomTo(int64_t fromMs, int64_t toMs)
{
    if (toMs - fromMs < shortestShownMs) {
        const int64_t middle = fromMs + (toMs - fromMs) / 2;
        fromMs = middle - shortestShownMs / 2;
        toMs = middle + shortestShownMs / 2;
    }
    shownFrom_ = std::max(fromMs, spanFrom_);
    shownTo_ = std::min(toMs, spanTo_);
    zoomed_ = shownFrom_ > spanFrom_ || shownTo_ < spanTo_;
    showSpan();
}

void HistoryWindow::resetZoom()
{
    zoomed_ = false;
    shownFrom_ = spanFrom_;
    shownTo_ = spanTo_;
    showSpan();
}

// The time axis over the shown span: ticks at round local times, the zone named.
void HistoryWindow::showSpan()
{
    view_->hideReadout();
    timeAxis_->setRange(static_cast<qreal>(shownFrom_), static_cast<qreal>(shownTo_));
    for (const QString& label : timeAxis_->categoriesLabels())
        timeAxis_->remove(label);
    timeAxis_->setStartValue(static_cast<qreal>(shownFrom_));
    // Labels must differ; a time that recurs on another day gets an invisible mark.
    QStringList used;
    for (const TimeTick& t : timeTicks(shownFrom_, shownTo_, std::max(3, view_->width() / 100))) {
        QString label = t.label;
        while (used.contains(label))
            label += QChar(0x200B);
        used.append(label);
        timeAxis_->append(label, static_cast<qreal>(t.utcMs));
    }
    timeAxis_->setTitleText(QStringLiteral("Time (%1)").arg(zoneText(shownTo_)));
    view_->setAccessibleDescription(
        QStringLiteral("Rate of station %1 from %2 to %3, over the Poor, Fair and Excellent bands")
            .arg(station_, QDateTime::fromMSecsSinceEpoch(shownFrom_).toString(QStringLiteral("ddd d MMM HH:mm")),
                 QDateTime::fromMSecsSinceEpoch(shownTo_).toString(QStringLiteral("ddd d MMM HH:mm"))));
}

void HistoryWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    // As many ticks as the width holds.
    if (spanTo_ > spanFrom_)
        showSpan();
}

QString HistoryWindow::describe(const QString& line, const QPointF& p) const
{
    const int64_t at = static_cast<int64_t>(p.x());
    const QString zone = QDateTime::fromMSecsSinceEpoch(at).timeZoneAbbreviation();
    QString when;
    if (bucketMs_ == 0) {
        when = QDateTime::fromMSecsSinceEpoch(at).toString(QStringLiteral("ddd d MMM HH:mm:ss"));
    } else {
        // A bucket is drawn at its middle.
        const QDateTime from = QDateTime::fromMSecsSinceEpoch(at - bucketMs_ / 2);
        const QDateTime to = QDateTime::fromMSecsSinceEpoch(at + bucketMs_ / 2);
        when = from.toString(QStringLiteral("ddd d MMM HH:mm")) + QStringLiteral("\u2013") +
               to.toString(QStringLiteral("HH:mm"));
    }
    return QStringLiteral("%1%2 %3\n%4%5 Mbps\n%6")
        .arg(line == station_ ? QString() : line + QLatin1Char('\n'), when, zone,
             bucketMs_ == 0 ? QString() : QStringLiteral("Mean "), QString::asprintf("%.2f", p.y()),
             QString::fromLatin1(linkQualityFor(p.y()).ratingText));
}

bool HistoryWindow::exportTo(const QString& path, QString* why)
{
    if (path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
        view_->hideReadout();
        if (view_->grab().save(path, "PNG"))
            return true;
        *why = QStringLiteral("%1 could not be written").arg(path);
        return false;
    }
    history::Store store;
    if (!store.open(historyPath.empty() ? history::defaultPath() : historyPath, history::Store::Mode::readOnly)) {
        *why = QString::fromStdString(store.error());
        return false;
    }
    history::Filter filter;
    filter.station = station_.toStdString();
    filter.sinceMs = shownFrom_;
    filter.untilMs = shownTo_ + 1;
    std::string text = "time,adapter,device,station,rate_mbps\n";
    for (const history::Sample& s : store.samples(filter)) {
        text += history::isoTime(s.timeMs) + ',' + history::Mac(s.adapter).text() + ',' +
                history::Mac(s.device).text() + ',' + history::Mac(s.station).text() + ',';
        if (s.rateMbps)
            text += QString::asprintf("%.3f", *s.rateMbps).toStdString();
        text += '\n';
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.data(), static_cast<qint64>(text.size())) < 0 ||
        !file.commit()) {
        *why = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void HistoryWindow::exportAs()
{
    const QString csv = QStringLiteral("CSV (*.csv)"), png = QStringLiteral("PNG picture (*.png)");
    QString filter = csv;
    const QString name = QStringLiteral("brennic-%1-%2.csv")
                             .arg(QString(station_).remove(QLatin1Char(':')),
                                  QDateTime::fromMSecsSinceEpoch(shownFrom_).toString(QStringLiteral("yyyyMMdd-HHmm")));
    QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export History"), name,
                                                csv + QStringLiteral(";;") + png, &filter);
    if (path.isEmpty())
        return;
    if (filter == png && !path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
        if (path.endsWith(QLatin1String(".csv")))
            path.chop(4);
        path += QLatin1String(".png");
    }
    QString why;
    if (!exportTo(path, &why))
        QMessageBox::warning(this, QStringLiteral("Export History"), why);
}

void HistoryWindow::draw(const StationChart& c)
{
    view_->hideReadout();
    chart_->removeAllSeries();
    spanFrom_ = c.fromMs;
    spanTo_ = c.toMs;
    bucketMs_ = c.bucketMs;
    const qreal from = static_cast<qreal>(c.fromMs), to = static_cast<qreal>(c.toMs);
    std::vector<std::pair<QString, StationChart>> others;
    double highest = std::max(c.maximum.value_or(0.0), excellentAboveMbps);
    for (QCheckBox* box : compare_) {
        if (!box->isChecked())
            continue;
        others.emplace_back(
            box->text(), loadStationChart(historyPath, box->property("mac").toString().toStdString(), span(), c.toMs));
        highest = std::max(highest, others.back().second.maximum.value_or(0.0));
    }
    // Round figures on the rate axis; the bands fill it from bottom to top.
    rateAxis_->setRange(std::min(0.0, c.minimum.value_or(0.0)), highest * 1.1);
    rateAxis_->applyNiceNumbers();
    const double low = rateAxis_->min(), high = rateAxis_->max();

    std::vector<QAbstractSeries*> series = {
        band(history::rating::words[history::rating::poor], low, fairFromMbps, 0.0, from, to),
        band(history::rating::words[history::rating::fair], fairFromMbps, excellentAboveMbps, fairFromMbps, from, to),
        band(history::rating::words[history::rating::excellent], excellentAboveMbps, high, excellentAboveMbps * 2, from,
             to),
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
        line->setProperty("readable", station_);
        QList<QPointF> points;
        points.reserve(static_cast<qsizetype>(run.size()));
        for (const StationChart::Point& p : run)
            points.append(QPointF(static_cast<qreal>(p.utcMs), p.mbps));
        line->replace(points);
        series.push_back(line);
    }
    static const QColor compareColours[] = {QColor(200, 90, 0), QColor(120, 40, 150), QColor(0, 120, 110),
                                            QColor(150, 110, 0), QColor(180, 30, 90)};
    for (size_t i = 0; i < others.size(); ++i) {
        for (const auto& run : others[i].second.runs) {
            auto* line = new QLineSeries;
            line->setName(others[i].first);
            line->setObjectName(QStringLiteral("compare"));
            line->setColor(compareColours[i % std::size(compareColours)]);
            line->setProperty("readable", others[i].first);
            for (const StationChart::Point& p : run)
                line->append(static_cast<qreal>(p.utcMs), p.mbps);
            series.push_back(line);
        }
    }
    bool rateInLegend = false, rangeInLegend = false;
    QStringList comparedInLegend;
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
        if (s->objectName() == QLatin1String("compare")) {
            for (QLegendMarker* m : chart_->legend()->markers(s))
                m->setVisible(!comparedInLegend.contains(s->name()));
            comparedInLegend.append(s->name());
        }
    }

    chart_->setTitle(!c.error.empty()
                         ? QStringLiteral("The history could not be read: %1").arg(QString::fromStdString(c.error))
                     : c.runs.empty() ? QStringLiteral("No rate of this station was recorded in this span.")
                                      : QString());
    if (zoomed_) {
        zoomTo(shownFrom_, shownTo_);
    } else {
        shownFrom_ = c.fromMs;
        shownTo_ = c.toMs;
        showSpan();
    }

    current_->setText(QStringLiteral("Now: %1").arg(rateText(c.current)));
    minimum_->setText(QStringLiteral("Minimum: %1").arg(rateText(c.minimum)));
    median_->setText(QStringLiteral("Median: %1").arg(rateText(c.median)));
    maximum_->setText(QStringLiteral("Maximum: %1").arg(rateText(c.maximum)));
    for (QLabel* l : {current_, minimum_, median_, maximum_})
        l->setAccessibleName(l->text());
    figures_->setAccessibleDescription(
        QStringList{current_->text(), minimum_->text(), median_->text(), maximum_->text()}.join(QStringLiteral(", ")));
    view_->setAccessibleName(QStringLiteral("Rate of station %1").arg(station_));
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
    static const QKeySequence historyKeys(Qt::CTRL | Qt::Key_H);
    QObject::connect(list, &QTreeWidget::itemDoubleClicked, list,
                     [list](QTreeWidgetItem* item) { openStationHistory(list->window(), item->text(0)); });
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QWidget::customContextMenuRequested, list, [list](const QPoint& at) {
        QTreeWidgetItem* item = list->itemAt(at);
        if (!item)
            return;
        QMenu menu(list);
        menu.setObjectName(QStringLiteral("stationMenu"));
        const QString station = item->text(0);
        QAction* history = menu.addAction(QStringLiteral("History\u2026"), list,
                                          [list, station] { openStationHistory(list->window(), station); });
        history->setShortcut(historyKeys);
        addNameAction(&menu, list, item, 0);
        menu.exec(list->viewport()->mapToGlobal(at));
    });
    auto* keys = new QShortcut(historyKeys, list, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    QObject::connect(keys, &QShortcut::activated, list, [list] {
        if (QTreeWidgetItem* item = list->currentItem(); item && item->isSelected())
            openStationHistory(list->window(), item->text(0));
    });
}
