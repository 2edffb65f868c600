#include "ui/step_bar.h"

#include <QProgressBar>

#include <algorithm>

void StepBar::setPos(int position)
{
    position_ = std::clamp(position, bar_->minimum(), bar_->maximum());
    bar_->setValue(position_);
}

void StepBar::stepIt()
{
    int next = position_ + step_;
    if (next > bar_->maximum())
        next = bar_->minimum();
    setPos(next);
}

void StepBar::setColour(const QColor& colour)
{
    colour_ = colour;
    if (colour.isValid()) {
        QPalette p = bar_->palette();
        p.setColor(QPalette::Highlight, colour);
        bar_->setPalette(p);
    } else {
        bar_->setPalette(QPalette());
    }
}
