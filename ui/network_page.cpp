#include "ui/network_page.h"

#include "session/session.h"
#include "ui/common.h"
#include "ui/history_window.h"
#include "ui/shell.h"
#include "ui/station_names.h"
#include "ui/text_fit.h"
#include "ui/window_hints.h"
#include "ui/windows.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

NetworkPage::NetworkPage(QWidget* parent)
    : QWidget(parent), stationList_(new QTreeWidget(this)),
      scanButton_(new QPushButton(QStringLiteral("Scan Powerline Network"), this))
{
    networkPageWindow = this;
    setObjectName(QStringLiteral("networkPage"));
    setFixedSize(dluX(295), dluY(220));

    auto* intro = new QLabel(QStringLiteral("The following devices are located on your powerline network."), this);
    intro->setWordWrap(true);
    intro->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    intro->setGeometry(dluRect(80, 10, 134, 20));

    stationList_->setObjectName(QStringLiteral("stationList"));
    stationList_->setGeometry(dluRect(80, 37, 135, 144));
    stationList_->setAccessibleName(intro->text());
    stationList_->setRootIsDecorated(false);
    stationList_->setItemsExpandable(false);
    stationList_->setUniformRowHeights(true);
    stationList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    stationList_->header()->setSectionsMovable(false);
    stationList_->header()->setStretchLastSection(false);
    stationList_->setHeaderLabels({QStringLiteral("MAC Address"), QStringLiteral("Data Rate (Mbps)")});
    stationList_->setColumnWidth(0, 100);
    stationList_->setColumnWidth(1, 100);

    scanButton_->setObjectName(QStringLiteral("scanButton"));
    scanButton_->setGeometry(dluRect(99, 186, 97, 14));
    setTabOrder(stationList_, scanButton_);
    connect(scanButton_, &QPushButton::clicked, this, &NetworkPage::scanNetwork);
    offerStationHistory(stationList_);

    for (const session::StationRow& row : session::currentStations().stations)
        addRow(row);
}

NetworkPage::~NetworkPage()
{
    if (networkPageWindow == this)
        networkPageWindow = nullptr;
}

void NetworkPage::addRow(const session::StationRow& row)
{
    QString mac = QString::fromStdString(row.mac);
    int at = 0;
    // Descending, the new row after rows of equal text.
    while (at < stationList_->topLevelItemCount() &&
           QString::compare(stationList_->topLevelItem(at)->text(0), mac, Qt::CaseInsensitive) >= 0)
        ++at;
    auto* item = new QTreeWidgetItem;
    item->setText(0, mac);
    item->setText(1, QString::fromStdString(row.rate));
    // The rate shown goes nowhere when history cannot be written: the row says so.
    setNamedToolTip(item, 0, notRecordingText());
    stationList_->insertTopLevelItem(at, item);
}

void NetworkPage::fillRows(const std::vector<session::StationRow>& rows)
{
    clearRows();
    for (const session::StationRow& row : rows)
        addRow(row);
}

void NetworkPage::clearRows() { stationList_->clear(); }

void NetworkPage::scanNetwork()
{
    clearRows();
    session::beginScan();
    ScanDialog dialog(this);
    dialog.exec();
}

ScanDialog::ScanDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      bar_(new QProgressBar(this))
{
    scanDialogWindow = this;
    setObjectName(QStringLiteral("scanDialog"));
    setWindowTitle(QString::fromLatin1(scanDialogCaption));
    setFixedSize(dluX(186), dluY(95));
    setModal(true);
    setFont(dialogFont());

    auto* text = new QLabel(QString::fromLatin1(scanDialogText), this);
    placeText(text, dluRect(16, 37, 154, 8));
    // A wider face widens the text; the dialog keeps the same margin right of it.
    setFixedSize(std::max(width(), text->geometry().right() + 1 + dluX(16)), height());

    auto* bar = findChild<QProgressBar*>();
    bar->setObjectName(QStringLiteral("scanBar"));
    bar->setGeometry(dluRect(16, 47, 157, 11));
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    bar->setAccessibleName(text->text());

    bar_.setPos(0);
    bar_.setStep(1);
    session::showScanProgress();
    allowMoveOnly(this);
}

ScanDialog::~ScanDialog()
{
    if (scanDialogWindow == this)
        scanDialogWindow = nullptr;
}

void ScanDialog::endScan()
{
    done(0);
    // Some window managers minimise the sheet with the dialog: the sheet comes back.
    if (QWidget* owner = parentWidget(); owner && owner->window()->isMinimized())
        owner->window()->showNormal();
}

void ScanDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // A window manager that keeps a minimise button despite the hints gets
    // the dialog back at once: it holds the sheet until the scan ends.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && isVisible())
        QTimer::singleShot(0, this, [this] {
            if (isMinimized())
                showNormal();
        });
}

void ScanDialog::closeEvent(QCloseEvent* event)
{
    // Only the scan's end closes it, and that does not come through here.
    event->ignore();
}

void ScanDialog::showEvent(QShowEvent* event)
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = screen->availableGeometry();
        move(area.center() - rect().center());
    }
    QDialog::showEvent(event);
}
