#include "ui/advanced_page.h"

#include "ui/common.h"
#include "mme/exchange.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "keys/password.h"
#include "netstate/profiles.h"
#include "ui/security_page.h"
#include "link/session.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QValidator>

#include <algorithm>
#include <cstring>

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

constexpr int rowTextSize = 30;  // a row's text is read through 30 bytes

// A row's password as the lookups take it: NUL-terminated, at most 29 bytes.
void rowText(const QTreeWidgetItem* item, char out[rowTextSize])
{
    std::memset(out, 0, rowTextSize);
    QByteArray text = item->text(0).toLatin1();
    std::memcpy(out, text.constData(), std::min<size_t>(static_cast<size_t>(text.size()), rowTextSize - 1));
}

// A stored password field, NUL-terminated even when the file left it without one.
void storedPassword(const char* field, char out[passwordFieldSize])
{
    std::memset(out, 0, passwordFieldSize);
    std::memcpy(out, field, fieldLength(field, passwordMaxLength));
}

void showBox(QWidget* owner, const char* caption, const char* text)
{
    showErrorBox(owner, QString::fromLatin1(caption), QString::fromLatin1(text));
}
}  // namespace

void fillDevicePasswordList()
{
    if (advancedPageWindow)
        advancedPageWindow->fillDevicePasswordList();
}

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

    auto group = [this](const char* title, QRect at) {
        auto* g = new QGroupBox(QString::fromLatin1(title), this);
        g->setGeometry(at);
        g->lower();  // a frame only: the controls inside belong to the page
    };
    group("Remote Passwords", dluRect(7, 27, 143, 164));

    setAllButton_->setObjectName(QStringLiteral("setAllButton"));
    setAllButton_->setGeometry(dluRect(19, 198, 50, 14));
    setAllButton_->setProperty("controlId", idSetAll);

    removeButton_->setObjectName(QStringLiteral("removeButton"));
    removeButton_->setGeometry(dluRect(85, 198, 50, 14));
    removeButton_->setProperty("controlId", idRemove);

    group("Device Password", dluRect(161, 88, 126, 58));
    group("Network Password", dluRect(161, 38, 126, 42));

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

void AdvancedPage::activate()
{
    networkPasswordEdit_->setText(profileFieldText(profiles[selectedAdapter].networkPassword));
}

void AdvancedPage::reset() { endSessionOnReset(); }

void AdvancedPage::add()
{
    if (addDevicePassword())
        setAllDevices();
}

void AdvancedPage::drawRows()
{
    const NetworkProfile& profile = profiles[selectedAdapter];
    for (int i = 0; i < devicePasswordsPerProfile; ++i) {
        const char* password = profile.devicePasswords[i].password;
        if (password[0] == 0)
            continue;
        auto* item = new QTreeWidgetItem;
        item->setText(0, profileFieldText(password));
        passwordList_->insertTopLevelItem(std::min(i, passwordList_->topLevelItemCount()), item);
    }
}

void AdvancedPage::fillDevicePasswordList()
{
    passwordList_->clear();
    drawRows();
}

bool AdvancedPage::addDevicePassword()
{
    busy = 1;
    QByteArray text = passwordFieldBytes(devicePasswordEdit_);
    if (text.size() > passwordMaxLength) {
        showBox(this, invalidDevicePasswordCaption, invalidDevicePasswordText);
        busy = 0;
        return false;
    }
    char password[passwordFieldSize] = {};
    std::memcpy(password, text.constData(), static_cast<size_t>(text.size()));
    if (!checkPassword(password)) {
        showBox(this, invalidDevicePasswordCaption, invalidDevicePasswordText);
        devicePasswordEdit_->selectAll();
        busy = 0;
        return false;
    }
    if (hasDevicePassword(password)) {
        showBox(this, duplicatePasswordCaption, duplicatePasswordText);
        devicePasswordEdit_->selectAll();
        busy = 0;
        return false;
    }
    // Refused before any exchange, so that no entry in use is ever overwritten.
    int slot = firstFreeDevicePassword();
    if (slot < 0) {
        showBox(this, listFullCaption, listFullText);
        devicePasswordEdit_->selectAll();
        busy = 0;
        return false;
    }

    uint8_t deviceKey[keyLength];
    std::memcpy(deviceKey, deriveKey(password), keyLength);
    uint8_t temporaryKey[keyLength];
    makeRandomKey(temporaryKey);
    uint8_t responder[mme::macSize];
    NetworkProfile& profile = profiles[selectedAdapter];
    if (findRemoteDevice(deviceKey, temporaryKey, responder)) {
        DevicePasswordEntry& entry = profile.devicePasswords[slot];
        std::memcpy(entry.password, password, sizeof password);
        std::memcpy(entry.remoteMac, responder, sizeof responder);
        auto* item = new QTreeWidgetItem;
        item->setText(0, profileFieldText(entry.password));
        passwordList_->insertTopLevelItem(std::min(slot, passwordList_->topLevelItemCount()), item);
        devicePasswordEdit_->clear();
        busy = 0;
        return true;  // saved by the Set All that follows
    }

    char networkPassword[passwordFieldSize];
    storedPassword(profile.networkPassword, networkPassword);
    uint8_t networkKey[keyLength];
    std::memcpy(networkKey, deriveKey(networkPassword), keyLength);
    restoreLocalKeys(networkKey);
    showBox(this, noResponseCaption, noResponseText);
    devicePasswordEdit_->selectAll();
    busy = 0;
    return false;
}

void AdvancedPage::setAllDevices()
{
    busy = 1;
    QByteArray text = passwordFieldBytes(networkPasswordEdit_);
    if (text.size() > passwordMaxLength) {
        showBox(this, invalidNetworkPasswordCaption, invalidNetworkPasswordText);
        busy = 0;
        return;
    }
    char password[passwordFieldSize] = {};
    std::memcpy(password, text.constData(), static_cast<size_t>(text.size()));
    if (!checkPassword(password)) {
        showBox(this, invalidNetworkPasswordCaption, invalidNetworkPasswordText);
        busy = 0;
        return;
    }

    int a = selectedAdapter;
    NetworkProfile& profile = profiles[a];
    std::memcpy(profile.networkPassword, password, sizeof password);
    uint8_t networkKey[keyLength];
    std::memcpy(networkKey, deriveKey(profile.networkPassword), keyLength);
    setKey(a, adapters[a].ownMac, mme::broadcastMac, 1, networkKey, 0x01, false, false);

    for (int i = 0; i < passwordList_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = passwordList_->topLevelItem(i);
        item->setText(1, QString());
        char devicePassword[rowTextSize];
        rowText(item, devicePassword);
        bool ok = false;
        // A row without an entry (the table changed under the list) cannot be reached.
        int index = findDevicePassword(devicePassword);
        if (index >= 0) {
            DevicePasswordEntry& entry = profile.devicePasswords[index];
            entry.networkKeySet = 0;
            uint8_t deviceKey[keyLength];
            std::memcpy(deviceKey, deriveKey(devicePassword), keyLength);
            ok = setRemoteKey(deviceKey, networkKey, entry.remoteMac);
            if (ok) {
                entry.networkKeySet = 1;
                saveProfiles();
            }
        }
        item->setText(1, QString::fromLatin1(ok ? statusOk : statusFail));
    }

    restoreLocalKeys(networkKey);
    // The local device is on the new key now; without this save a list with no
    // device that took it would leave the old password in the file.
    saveProfiles();
    startBackgroundScan();
}

void AdvancedPage::removeSelected()
{
    busy = 1;
    NetworkProfile& profile = profiles[selectedAdapter];
    // Bottom up, so that deleting a row moves none still to be looked at.
    for (int j = passwordList_->topLevelItemCount() - 1; j >= 0; --j) {
        QTreeWidgetItem* item = passwordList_->topLevelItem(j);
        if (!item->isSelected())
            continue;
        char text[rowTextSize];
        rowText(item, text);
        delete item;
        int index = findDevicePassword(text);
        // Only the password frees the entry; remoteMac and networkKeySet stay.
        if (index >= 0)
            std::memset(profile.devicePasswords[index].password, 0, passwordFieldSize);
    }
    saveProfiles();
    busy = 0;
}

void AdvancedPage::restoreLocalKeys(const uint8_t* networkKey)
{
    uint8_t ownKey[keyLength];
    std::memcpy(ownKey, referenceBlock + mme::blockRestoreKey, keyLength);
    setLocalKeys(ownKey, networkKey);
}

void AdvancedPage::startBackgroundScan()
{
    clearNetworkList();
    busy = 0;
    beginNetworkScan();
}
