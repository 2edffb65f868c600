#pragma once
// Form1: the one window of pelmora. It asks the user to plug the USB adapter
// in and to press OK once the new-hardware wizard is done; OK ends the program.
#include <QWidget>

class QFrame;
class QLabel;
class QPushButton;

namespace prompt {

// The form is laid out in twips, 15 to a pixel.
constexpr int twipsPerPixel = 15;
constexpr int px(int twips) { return twips / twipsPerPixel; }

// Content area: 7545 twips wide; below the OK button, which ends at 5175 twips,
// the same 120-twip margin that Frame1 keeps from the left edge.
constexpr int formWidthTwips = 7545;
constexpr int formMarginTwips = 120;
constexpr int formHeightTwips = 5175 + formMarginTwips;

class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);

signals:
    // Command1 was pressed: the program is to end now.
    void endRequested();

private:
    void command1Click();

    QLabel* image2 = nullptr;
    QLabel* image1 = nullptr;
    QLabel* label1 = nullptr;
    QLabel* label2 = nullptr;
    QFrame* frame1 = nullptr;
    QPushButton* command1 = nullptr;
};

}  // namespace prompt
