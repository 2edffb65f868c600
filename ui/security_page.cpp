#include "ui/security_page.h"

#include "ui/common.h"
#include "ui/text_fit.h"
#include "ui/wait_cursor.h"
#include "ui/windows.h"

#include <QLabel>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

QByteArray passwordFieldBytes(const QLineEdit* edit) { return edit->text().toUtf8(); }

QString storedNetworkPasswordText() { return QString::fromLatin1(session::networkPassword()); }

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
    // The box around the field is its label.
    passwordEdit_->setAccessibleName(group->title());

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

void SecurityPage::activate() { passwordEdit_->setText(storedNetworkPasswordText()); }

bool SecurityPage::setLocal()
{
    QByteArray text = passwordFieldBytes(passwordEdit_);
    session::PasswordResult result;
    {
        WaitCursor wait;
        result = session::setLocal(std::string_view(text.constData(), static_cast<size_t>(text.size())));
    }
    return showResult(result);
}

bool SecurityPage::restoreDefault()
{
    passwordEdit_->setText(QString::fromLatin1(session::defaultNetworkPassword));
    session::PasswordResult result;
    {
        WaitCursor wait;
        result = session::restoreDefault();
    }
    return showResult(result);
}

bool SecurityPage::showResult(const session::PasswordResult& result)
{
    if (result.box == session::Box::invalidNetworkPassword) {
        showOutcomeBox(this, result);
        return false;
    }
    // The background scan that followed starts from an empty list.
    clearNetworkList();
    showOutcomeBox(this, result);
    return true;
}
