#pragma once
// Remote devices known by the device password on their label: find them,
// forget them, and put them all on the network key of the page's field.
#include <QWidget>

#include <cstdint>

class QLineEdit;
class QPushButton;
class QTreeWidget;

constexpr const char* invalidDevicePasswordCaption = "Invalid Password Entry";
constexpr const char* invalidDevicePasswordText =
    "The Device Password Entered is Invalid.\nPlease Enter a Valid Device Password";
constexpr const char* duplicatePasswordCaption = "Duplicate Password Entry";
constexpr const char* duplicatePasswordText =
    "The Device Password Entered has already been added.\nPlease Enter Another Device Password";
constexpr const char* noResponseCaption = "No Response From Device";
constexpr const char* noResponseText = "A Device With The Entered Password Was Not Detected. \nPlease Verify The "
                                       "Password and Check The Connection To Your Device.";
constexpr const char* listFullCaption = "Device Password List Full";
constexpr const char* listFullText =
    "The Device Password List holds 32 devices.\nPlease Remove a Device Password before adding another one.";

constexpr const char* statusOk = "OK";
constexpr const char* statusFail = "FAIL";

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
    // Finds the device behind the typed device password and lists it.
    bool addDevicePassword();
    // The network password of the field to the local device and every listed one.
    void setAllDevices();
    void removeSelected();

public slots:
    // The tab became current: the field shows the stored network password.
    void activate();
    // The sheet was cancelled.
    void reset();
    void add();

private:
    void drawRows();
    // Restores the local device's own keys after the temporary ones of a search.
    void restoreLocalKeys(const uint8_t* networkKey);
    void startBackgroundScan();

    QPushButton* addButton_;
    QLineEdit* networkPasswordEdit_;
    QLineEdit* devicePasswordEdit_;
    QTreeWidget* passwordList_;
    QPushButton* setAllButton_;
    QPushButton* removeButton_;
};
