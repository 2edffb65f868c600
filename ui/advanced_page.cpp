#include "ui/advanced_page.h"

#include "ui/common.h"
#include "ui/security_page.h"
#include "ui/wait_cursor.h"
#include "ui/windows.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QValidator>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {
// Typed letters become capitals, one character for one, as device labels print them.
class UpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        for (QChar& c : input)
            c = c.toUpper();
        return Acceptable;
    }
};

// Each operation of the page holds the monitor until its box is closed, so
// the monitor stays idle under the box as it did during the exchange.
void showBox(QWidget* owner, const session::Outcome& outcome)
{
    if (outcome.box == session::Box::none)
        return;
    session::MonitorHold hold;
    showOutcomeBox(owner, outcome);
}

constexpr int rowTextSize = 30;  // a row's text is read through 30 bytes

// A row's password as the lookups take it: NUL-terminated, at most 29 bytes.
void rowText(const QTreeWidgetItem* item, char out[rowTextSize])
{
    std::memset(out, 0, rowTextSize);
    QByteArray text = item->text(0).toLatin1();
    std::memcpy(out, text.constData(), std::min<size_t>(static_cast<size_t>(text.size()), rowTextSize - 1));
}

}  // namespace

AdvancedPage::AdvancedPage(QWidget* parent)
    : QWidget(parent), addButton_(new QPushButton(QStringLiteral("Add"), this)),
      networkPasswordEdit_(new QLineEdit(this)), devicePasswordEdit_(new QLineEdit(this)),
      passwordList_(new QTreeWidget(this)), setAllButton_(new QPushButton(QStringLiteral("Set All"), this)),
      removeButton_(new QPushButton(QStringLiteral("Remove"), this))
{
    advancedPageWindow = this;
    setObjectName(QStringLiteral("advancedPage"));
    setFixedSize(dluX(290), dluY(226));

    addButton_->setObjectName(QStringLiteral("addButton"));
    addButton_->setGeometry(dluRect(200, 124, 40, 14));
    addButton_->setProperty("controlId", idAdd);

    networkPasswordEdit_->setObjectName(QStringLiteral("networkPasswordEdit"));
    networkPasswordEdit_->setGeometry(dluRect(170, 51, 102, 14));
    networkPasswordEdit_->setProperty("controlId", idNetworkPasswordEdit);

    devicePasswordEdit_->setObjectName(QStringLiteral("devicePasswordEdit"));
    devicePasswordEdit_->setGeometry(dluRect(170, 103, 102, 14));
    devicePasswordEdit_->setProperty("controlId", idDevicePasswordEdit);
    devicePasswordEdit_->setValidator(new UpperCaseValidator(devicePasswordEdit_));

    passwordList_->setObjectName(QStringLiteral("passwordList"));
    passwordList_->setGeometry(dluRect(15, 43, 126, 139));
    passwordList_->setProperty("controlId", idPasswordList);
    passwordList_->setRootIsDecorated(false);
    passwordList_->setItemsExpandable(false);
    passwordList_->setUniformRowHeights(true);
    passwordList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    passwordList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    passwordList_->header()->setSectionsMovable(false);
    passwordList_->header()->setStretchLastSection(false);
    passwordList_->setHeaderLabels({QStringLiteral("Password"), QStringLiteral("Status")});
    passwordList_->setColumnWidth(0, 139);
    passwordList_->setColumnWidth(1, 45);

    // Each box's title names the field or list inside it.
    auto group = [this](const char* title, QRect at, QWidget* inside) {
        auto* g = new QGroupBox(QString::fromLatin1(title), this);
        g->setGeometry(at);
        g->lower();  // a frame only: the controls inside belong to the page
        inside->setAccessibleName(g->title());
    };
    group("Remote Passwords", dluRect(7, 27, 143, 164), passwordList_);

    setAllButton_->setObjectName(QStringLiteral("setAllButton"));
    setAllButton_->setGeometry(dluRect(19, 198, 50, 14));
    setAllButton_->setProperty("controlId", idSetAll);

    removeButton_->setObjectName(QStringLiteral("removeButton"));
    removeButton_->setGeometry(dluRect(85, 198, 50, 14));
    removeButton_->setProperty("controlId", idRemove);

    group("Device Password", dluRect(161, 88, 126, 58), devicePasswordEdit_);
    group("Network Password", dluRect(161, 38, 126, 42), networkPasswordEdit_);

    auto* note = new QLabel(QStringLiteral("The unique device password printed on label at each device"), this);
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    note->setGeometry(dluRect(177, 163, 94, 47));

    for (QPushButton* b : {addButton_, setAllButton_, removeButton_})
        b->setAutoDefault(false);
    setTabOrder(addButton_, networkPasswordEdit_);
    setTabOrder(networkPasswordEdit_, devicePasswordEdit_);
    setTabOrder(devicePasswordEdit_, passwordList_);
    setTabOrder(passwordList_, setAllButton_);
    setTabOrder(setAllButton_, removeButton_);

    connect(addButton_, &QPushButton::clicked, this, &AdvancedPage::add);
    connect(setAllButton_, &QPushButton::clicked, this, [this] { setAllDevices(); });
    connect(removeButton_, &QPushButton::clicked, this, [this] { removeSelected(); });

    drawRows();
    // The tab is current as soon as it exists: fill the field as its activation would.
    activate();
}

AdvancedPage::~AdvancedPage()
{
    if (advancedPageWindow == this)
        advancedPageWindow = nullptr;
}

void AdvancedPage::activate() { networkPasswordEdit_->setText(storedNetworkPasswordText()); }

void AdvancedPage::add()
{
    QByteArray device = passwordFieldBytes(devicePasswordEdit_);
    QByteArray network = passwordFieldBytes(networkPasswordEdit_);
    session::AddResult result;
    {
        WaitCursor wait;
        result = session::add(std::string_view(device.constData(), static_cast<size_t>(device.size())),
                              std::string_view(network.constData(), static_cast<size_t>(network.size())));
    }
    if (result.added) {
        devicePasswordEdit_->clear();
        showStatuses(result);
        clearNetworkList();
        showBox(this, result);
        return;
    }
    showBox(this, result);
    // A text too long for the field's rules is left as typed.
    bool tooLong = device.size() > session::passwordMaxLength;
    if (result.box != session::Box::invalidNetworkPassword &&
        !(result.box == session::Box::invalidDevicePassword && tooLong))
        devicePasswordEdit_->selectAll();
}

void AdvancedPage::drawRows()
{
    for (const session::DeviceStatus& d : session::devicePasswords()) {
        auto* item = new QTreeWidgetItem(passwordList_);
        item->setText(0, QString::fromLatin1(d.password.data(), static_cast<qsizetype>(d.password.size())));
    }
}

void AdvancedPage::fillDevicePasswordList()
{
    passwordList_->clear();
    drawRows();
}

void AdvancedPage::setAllDevices()
{
    QByteArray text = passwordFieldBytes(networkPasswordEdit_);
    session::SetAllResult result;
    {
        WaitCursor wait;
        result = session::setAll(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    }
    if (result.box == session::Box::invalidNetworkPassword) {
        showBox(this, result);
        return;
    }
    showStatuses(result);
    clearNetworkList();
    showBox(this, result);
}

void AdvancedPage::showStatuses(const session::SetAllResult& result)
{
    passwordList_->clear();
    for (const session::DeviceStatus& d : result.devices) {
        auto* item = new QTreeWidgetItem(passwordList_);
        item->setText(0, QString::fromLatin1(d.password.data(), static_cast<qsizetype>(d.password.size())));
        item->setText(1, QString::fromLatin1(d.ok ? statusOk : statusFail));
    }
}

void AdvancedPage::removeSelected()
{
    std::vector<std::string> passwords;
    // Bottom up, so that deleting a row moves none still to be looked at.
    for (int j = passwordList_->topLevelItemCount() - 1; j >= 0; --j) {
        QTreeWidgetItem* item = passwordList_->topLevelItem(j);
        if (!item->isSelected())
            continue;
        char text[rowTextSize];
        rowText(item, text);
        delete item;
        passwords.emplace_back(text);
    }
    showBox(this, session::remove(passwords));
}
