#include "ui/device_page.h"

#include "ui/common.h"
#include "ui/looking_window.h"
#include "ui/shell.h"
#include "ui/station_names.h"
#include "ui/text_fit.h"
#include "ui/wait_cursor.h"
#include "ui/windows.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <algorithm>
#include <cstring>

QString deviceTypeName(int deviceType) { return QString::fromStdString(session::deviceTypeName(deviceType)); }

DevicePage::DevicePage(QWidget* parent)
    : QWidget(parent), stateText_(new QLineEdit(this)), deviceList_(new QTreeWidget(this)),
      refreshButton_(new QPushButton(QStringLiteral("Refresh"), this)),
      connectButton_(new QPushButton(QStringLiteral("Connect"), this)), statusText_(new QLabel(this)),
      qualityBar_(new QProgressBar(this)), bar_(qualityBar_)
{
    devicePageWindow = this;
    setObjectName(QStringLiteral("devicePage"));
    setFixedSize(dluX(295), dluY(220));

    auto* stateLabel = new QLabel(QStringLiteral("State:"), this);
    placeText(stateLabel, dluRect(22, 22, 20, 8));

    stateText_->setObjectName(QStringLiteral("stateText"));
    stateText_->setReadOnly(true);
    stateText_->setGeometry(dluRect(45, 20, 228, 14));
    stateLabel->setBuddy(stateText_);

    auto* intro =
        new QLabel(QStringLiteral("The powerline devices connected to your PC are shown below.  You can select a "
                                  "desired local device from the list, and click the 'Connect' button to "
                                  "access your network."),
                   this);
    intro->setWordWrap(true);
    intro->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    intro->setGeometry(dluRect(27, 51, 241, 28));

    deviceList_->setObjectName(QStringLiteral("deviceList"));
    deviceList_->setGeometry(dluRect(59, 87, 169, 58));
    // Lists and bars take no name from a buddy: they are named after the text above them.
    deviceList_->setAccessibleName(intro->text());
    deviceList_->setRootIsDecorated(false);
    deviceList_->setItemsExpandable(false);
    deviceList_->setUniformRowHeights(true);
    deviceList_->setSelectionMode(QAbstractItemView::SingleSelection);
    deviceList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    deviceList_->header()->setSectionsMovable(false);
    deviceList_->header()->setStretchLastSection(false);

    refreshButton_->setObjectName(QStringLiteral("refreshButton"));
    refreshButton_->setGeometry(dluRect(125, 157, 50, 14));
    connectButton_->setObjectName(QStringLiteral("connectButton"));
    connectButton_->setGeometry(dluRect(181, 157, 50, 14));

    statusText_->setObjectName(QStringLiteral("statusText"));
    // As wide as the bar below it: the longest of its texts needs more than
    // 182 units in the faces that stand in for the one the layout was drawn for.
    statusText_->setGeometry(dluRect(40, 177, 215, 8));
    statusText_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    qualityBar_->setObjectName(QStringLiteral("qualityBar"));
    qualityBar_->setGeometry(dluRect(40, 188, 215, 6));
    qualityBar_->setRange(0, 100);
    qualityBar_->setTextVisible(false);
    qualityBar_->setValue(0);

    setTabOrder(deviceList_, connectButton_);
    setTabOrder(connectButton_, stateText_);
    setTabOrder(stateText_, refreshButton_);
    stateLabel->setFocusPolicy(Qt::NoFocus);

    connect(connectButton_, &QPushButton::clicked, this, &DevicePage::connectDevice);
    connect(refreshButton_, &QPushButton::clicked, this, &DevicePage::refresh);
    offerNaming(deviceList_, 1);

    deviceList_->setHeaderLabels({QStringLiteral("Device"), QStringLiteral("MAC address")});
    deviceList_->setColumnWidth(0, 148);
    deviceList_->setColumnWidth(1, 100);
    session::StartResult start = session::start();
    closeLookingWindow();
    if (!showStart(start))
        return;
    bar_.setStep(2);
    selectAdapterRow();
}

DevicePage::~DevicePage()
{
    if (devicePageWindow == this)
        devicePageWindow = nullptr;
}

QString DevicePage::statusText() const { return statusText_->text(); }

void DevicePage::setStatusText(const QString& text)
{
    statusText_->setText(text);
    qualityBar_->setAccessibleName(text);
}

void DevicePage::setStateText()
{
    std::string mac;
    for (const session::AdapterInfo& info : session::adapterList())
        if (info.index == session::selected())
            mac = info.deviceMac;
    stateText_->setText(QString::fromLatin1(connectedPrefix) + QString::fromStdString(mac));
}

void DevicePage::redrawDevices()
{
    setStateText();
    deviceList_->clear();
    for (const session::AdapterInfo& info : session::adapterList()) {
        if (!info.devicePresent)
            continue;
        auto* row = new QTreeWidgetItem(deviceList_);
        row->setText(0, QString::fromStdString(info.typeName));
        row->setText(1, QString::fromStdString(info.deviceMac));
        setNamedToolTip(row, 1, QString());
    }
}

bool DevicePage::showStart(const session::StartResult& start)
{
    if (!start.started) {
        showOutcomeBox(this, start);
        endProgram(0);
        return false;
    }
    fillDeviceList();
    setStatusText(QString::fromLatin1(analyzingText));
    return true;
}

void DevicePage::selectAdapterRow()
{
    int row = 0;
    for (const session::AdapterInfo& info : session::adapterList())
        if (info.index < session::selected() && info.devicePresent)
            ++row;
    if (QTreeWidgetItem* item = deviceList_->topLevelItem(row)) {
        deviceList_->setCurrentItem(item);
        item->setSelected(true);
    }
    deviceList_->setFocus();
}

void DevicePage::resetBar()
{
    bar_.setPos(0);
    bar_.setStep(2);
    bar_.setColour(QColor());
}

void DevicePage::showLinkQuality(const session::LinkQuality& quality)
{
    bar_.setPos(quality.barPosition);
    bar_.setColour(QColor(quality.barColour.red, quality.barColour.green, quality.barColour.blue));
    setStatusText(QString::fromLatin1(quality.ratingText));
}

void DevicePage::showLinkLost()
{
    if (stateText_->text() == QLatin1String(linkLostStateText))
        return;
    stateText_->setText(QString::fromLatin1(linkLostStateText));
    resetBar();
}

void DevicePage::connectDevice()
{
    // Rows stand for the adapters that had a device at the start, in order; the
    // intake may hear a device since on an adapter that has no row.
    int row = 0;
    int chosen = -1;
    for (const session::AdapterInfo& info : session::adapterList()) {
        if (!info.listed)
            continue;
        QTreeWidgetItem* item = deviceList_->topLevelItem(row++);
        if (item && item->isSelected()) {
            chosen = info.index;
            break;
        }
    }
    resetBar();
    session::connect(chosen);
    setStateText();
    fillDevicePasswordList();
    setStatusText(QString::fromLatin1(analyzingText));
}

void DevicePage::refresh()
{
    deviceList_->clear();
    setStatusText(QString::fromLatin1(refreshingText));
    // The session start below holds the thread for seconds: show the text now.
    statusText_->repaint();
    resetBar();
    session::StartResult start;
    {
        WaitCursor wait;
        start = session::refresh();
    }
    if (!showStart(start))
        return;
    fillDevicePasswordList();
    resetBar();
}
