#include "prompt/form1.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

// The pictures live in a static library: their registration must be pulled in
// by hand, from the global namespace.
static void initPromptResources() { Q_INIT_RESOURCE(prompt); }

namespace prompt {
namespace {

constexpr char caption[] = "Veltaro RLA-7070 Utilities - Connect Hardware";
// Word for word, "an USB port" and the two blanks after "launch." included.
constexpr char label1Text[] = "To complete the installation of your RLA-7070 USB adapter plug it into an USB port on "
                              "your PC now.";
constexpr char label2Text[] = "If this is the first time this adapter has been installed, the Windows Found New "
                              "Hardware Wizard will launch.  Complete the wizard and press the OK button below when "
                              "finished.";

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}

QLabel* picture(QWidget* parent, const char* name, const char* file)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setPixmap(QPixmap(QString::fromLatin1(file)));
    // An image control draws its bitmap at its top left corner, unscaled.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLabel* text(QWidget* parent, const char* name, const char* content)
{
    auto* label = new QLabel(QString::fromLatin1(content), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

bool fits(const QFont& font, const QLabel* label)
{
    const QRect box = label->contentsRect();
    const QRect used = QFontMetrics(font).boundingRect(QRect(box.left(), box.top(), box.width(), 1 << 20),
                                                       Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, label->text());
    return used.height() <= box.height() && used.width() <= box.width();
}

// Tahoma 8 pt. Where Tahoma is missing, the face that stands in for it runs
// wider and taller, and the last lines would fall outside the fixed label
// boxes; the size then steps down until both texts fit.
void setLabelFont(QLabel* a, QLabel* b)
{
    QFont font(QStringLiteral("Tahoma"));
    for (double points = 8.0; points >= 6.0; points -= 0.25) {
        font.setPointSizeF(points);
        if (fits(font, a) && fits(font, b))
            break;
    }
    a->setFont(font);
    b->setFont(font);
}

}  // namespace

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    initPromptResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(caption));
    QIcon icon;
    icon.addFile(QStringLiteral(":/prompt/icon32.png"));
    icon.addFile(QStringLiteral(":/prompt/icon64.png"));
    setWindowIcon(icon);
    // A fixed single border: the form is not resized or maximised.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(px(formWidthTwips), px(formHeightTwips));

    image2 = picture(this, "Image2", ":/prompt/banner.png");
    place(image2, 0, 0, 7545, 930);
    image1 = picture(this, "Image1", ":/prompt/side.png");
    place(image1, 0, 1920, 4110, 2310);

    label1 = text(this, "Label1", label1Text);
    place(label1, 4320, 2160, 2535, 615);
    label2 = text(this, "Label2", label2Text);
    place(label2, 4320, 3000, 2535, 1155);
    setLabelFont(label1, label2);

    // An empty frame 135 twips high: an etched line above the button.
    frame1 = new QFrame(this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setFrameShape(QFrame::HLine);
    frame1->setFrameShadow(QFrame::Sunken);
    place(frame1, 120, 4560, 7095, 135);

    command1 = new QPushButton(QStringLiteral("OK"), this);
    command1->setObjectName(QStringLiteral("Command1"));
    place(command1, 5880, 4800, 1335, 375);
    command1->setFocus();
    connect(command1, &QPushButton::clicked, this, &Form1::command1Click);
}

void Form1::command1Click()
{
    emit endRequested();
    close();
    // Ends the program at once, even if some other window were still open.
    QCoreApplication::exit(0);
}

}  // namespace prompt
