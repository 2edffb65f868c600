#include "ui/about_page.h"

#include "ui/common.h"
#include "ui/shell.h"
#include "ui/text_fit.h"

#include <QGroupBox>
#include <QLabel>

AboutPage::AboutPage(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("aboutPage"));
    setFixedSize(dluX(295), dluY(220));
    setFocusPolicy(Qt::NoFocus);

    auto* group = new QGroupBox(QStringLiteral("Version"), this);
    group->setGeometry(dluRect(49, 82, 192, 40));

    // The labels sit on the page, not in the box: their positions are the page's.
    auto* versionLabel = new QLabel(QStringLiteral("Version:"), this);
    placeText(versionLabel, dluRect(58, 101, 33, 11));
    auto* version = new QLabel(QString::fromLatin1(versionText), this);
    version->setObjectName(QStringLiteral("versionText"));
    placeText(version, dluRect(94, 101, 33, 8));
    auto* product = new QLabel(QString::fromLatin1(sheetCaption), this);
    product->setObjectName(QStringLiteral("productText"));
    placeText(product, dluRect(58, 66, 152, 8));
}
