#pragma once
// A progress bar with the platform's semantics: a step that passes the top
// starts over from the bottom; a position above the range fills it.
#include <QColor>

class QProgressBar;

class StepBar {
public:
    explicit StepBar(QProgressBar* bar) : bar_(bar) {}
    void setPos(int position);
    void setStep(int step) { step_ = step; }
    void stepIt();
    int pos() const { return position_; }
    int step() const { return step_; }
    void setColour(const QColor& colour);  // invalid: the default colour
    QColor colour() const { return colour_; }

private:
    QProgressBar* bar_;
    int position_ = 0;
    int step_ = 10;  // the platform's default step
    QColor colour_;
};
