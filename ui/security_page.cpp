#include "ui/security_page.h"

#include "ui/text_fit.h"

#include "ui/common.h"
#include "mme/exchange.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "keys/password.h"
#include "netstate/profiles.h"
#include "link/session.h"

#include <QLabel>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstring>

QByteArray passwordFieldBytes(const QLineEdit* edit) { return edit->text().toUtf8(); }

QString profileFieldText(const char* field)
{
    return QString::fromLatin1(field, static_cast<qsizetype>(fieldLength(field, passwordMaxLength)));
}

SecurityPage::SecurityPage(QWidget* parent)
    : QWidget(parent), passwordEdit_(new QLineEdit(this)),
      setLocalButton_(new QPushButton(QStringLiteral("Set Local"), this)),
      restoreDefaultButton_(new QPushButton(QStringLiteral("Restore Default"), this))
{
    setObjectName(QStringLiteral("securityPage"));
    setFixedSize(dluX(295), dluY(220));

    auto label = [this](const char* text, QRect at) {
        placeWrappedText(new QLabel(QString::fromLatin1(text), this), at);
    };
    label("Enter your own private password in the Network Password box below. Press the Set Local button to set "
          "the local device password.",
          dluRect(63, 17, 169, 27));
    label("Note that you will need to setup each device on your powerline network with the same Network Password. ",
          dluRect(63, 47, 169, 18));

    auto* group = new QGroupBox(QStringLiteral("Network Password"), this);
    group->setGeometry(dluRect(77, 90, 140, 82));
    group->lower();  // a frame only: the controls inside belong to the page

    // Shown in clear and not limited: a text too long is refused at Set Local.
    passwordEdit_->setObjectName(QStringLiteral("networkPasswordEdit"));
    passwordEdit_->setGeometry(dluRect(95, 111, 106, 14));
    passwordEdit_->setProperty("controlId", idPasswordEdit);

    setLocalButton_->setObjectName(QStringLiteral("setLocalButton"));
    setLocalButton_->setGeometry(dluRect(95, 145, 39, 14));
    setLocalButton_->setProperty("controlId", idSetLocal);
    setLocalButton_->setAutoDefault(false);

    restoreDefaultButton_->setObjectName(QStringLiteral("restoreDefaultButton"));
    restoreDefaultButton_->setGeometry(dluRect(145, 145, 55, 14));
    restoreDefaultButton_->setProperty("controlId", idRestoreDefault);
    restoreDefaultButton_->setAutoDefault(false);

    setTabOrder(passwordEdit_, restoreDefaultButton_);
    setTabOrder(restoreDefaultButton_, setLocalButton_);

    connect(setLocalButton_, &QPushButton::clicked, this, &SecurityPage::setLocal);
    connect(restoreDefaultButton_, &QPushButton::clicked, this, &SecurityPage::restoreDefault);

    activate();
}

void SecurityPage::activate() { passwordEdit_->setText(profileFieldText(profiles[selectedAdapter].networkPassword)); }

void SecurityPage::reset() { endSessionOnReset(); }

bool SecurityPage::setLocal()
{
    QByteArray text = passwordFieldBytes(passwordEdit_);
    if (text.size() > passwordMaxLength) {
        showErrorBox(this, QString::fromLatin1(invalidNetworkPasswordCaption),
                     QString::fromLatin1(invalidNetworkPasswordText));
        return false;
    }
    char password[passwordFieldSize] = {};
    std::memcpy(password, text.constData(), static_cast<size_t>(text.size()));
    if (!checkPassword(password)) {
        showErrorBox(this, QString::fromLatin1(invalidNetworkPasswordCaption),
                     QString::fromLatin1(invalidNetworkPasswordText));
        return false;
    }

    int a = selectedAdapter;
    NetworkProfile& profile = profiles[a];
    std::memcpy(profile.networkPassword, password, sizeof password);
    uint8_t networkKey[keyLength];
    std::memcpy(networkKey, deriveKey(profile.networkPassword), keyLength);
    setKey(a, adapters[a].ownMac, mme::broadcastMac, 1, networkKey, 0x01, true, false);
    saveProfiles();

    // A background scan: the Network page's list stays empty until it ends.
    clearNetworkList();
    beginNetworkScan();
    return true;
}

bool SecurityPage::restoreDefault()
{
    NetworkProfile& profile = profiles[selectedAdapter];
    std::memset(profile.networkPassword, 0, sizeof profile.networkPassword);
    std::strcpy(profile.networkPassword, defaultNetworkPassword);
    passwordEdit_->setText(profileFieldText(profile.networkPassword));
    return setLocal();
}
