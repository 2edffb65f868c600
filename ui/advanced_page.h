#pragma once
// Remote devices known by the device password on their label: find them,
// forget them, and put them all on the network key of the page's field.
#include "session/session.h"

#include <QWidget>

#include <cstdint>

class QLineEdit;
class QPushButton;
class QTreeWidget;

using session::duplicatePasswordCaption;
using session::duplicatePasswordText;
using session::invalidDevicePasswordCaption;
using session::invalidDevicePasswordText;
using session::listFullCaption;
using session::listFullText;
using session::noResponseCaption;
using session::noResponseText;
using session::statusFail;
using session::statusOk;

class AdvancedPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int idAdd = 1082;
    static constexpr int idNetworkPasswordEdit = 1030;
    static constexpr int idDevicePasswordEdit = 1013;
    static constexpr int idPasswordList = 1019;
    static constexpr int idSetAll = 1080;
    static constexpr int idRemove = 1081;

    explicit AdvancedPage(QWidget* parent = nullptr);
    ~AdvancedPage() override;

    QLineEdit* networkPasswordEdit() const { return networkPasswordEdit_; }
    QLineEdit* devicePasswordEdit() const { return devicePasswordEdit_; }
    QTreeWidget* passwordList() const { return passwordList_; }

    // The rows again, from the selected profile.
    void fillDevicePasswordList();
    // The network password of the field to the local device and every listed one.
    void setAllDevices();
    void removeSelected();

public slots:
    // The tab became current: the field shows the stored network password.
    void activate();
    // Finds the device behind the typed device password, lists it and runs Set All.
    void add();

private:
    void drawRows();
    // The rows with each device's OK or FAIL.
    void showStatuses(const session::SetAllResult& result);

    QPushButton* addButton_;
    QLineEdit* networkPasswordEdit_;
    QLineEdit* devicePasswordEdit_;
    QTreeWidget* passwordList_;
    QPushButton* setAllButton_;
    QPushButton* removeButton_;
};
