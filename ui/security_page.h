#pragma once
// The network password of the selected adapter: set it on the local device,
// or go back to the default one.
#include "session/session.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <cstddef>

class QLineEdit;
class QPushButton;

// What the password rules see of a field: its text as UTF-8, so that every
// character outside ASCII becomes bytes the rules refuse.
QByteArray passwordFieldBytes(const QLineEdit* edit);
// The selected adapter's stored network password, for a page's field.
QString storedNetworkPasswordText();

using session::invalidNetworkPasswordCaption;
using session::invalidNetworkPasswordText;

class SecurityPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int idPasswordEdit = 1028;
    static constexpr int idSetLocal = 1080;
    static constexpr int idRestoreDefault = 1062;

    explicit SecurityPage(QWidget* parent = nullptr);

    QLineEdit* passwordEdit() const { return passwordEdit_; }

public slots:
    // The tab became current: show the stored password, dropping typed text.
    void activate();
    // False when the field was refused (after the box). A failed save has its
    // own box; the key already sent stays.
    bool setLocal();
    bool restoreDefault();

private:
    bool showResult(const session::PasswordResult& result);

    QLineEdit* passwordEdit_;
    QPushButton* setLocalButton_;
    QPushButton* restoreDefaultButton_;
};
