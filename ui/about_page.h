#pragma once
// The product's name and the utility's version; nothing to compute.
#include <QWidget>

constexpr const char* versionText = "v.2.0.0.00";

class AboutPage : public QWidget {
    Q_OBJECT
public:
    explicit AboutPage(QWidget* parent = nullptr);
};
