#pragma once
// One-line texts placed at their dialog-unit rectangles. A face wider than the
// one the layout was drawn for would clip the end of a text; such a text gets
// the width it needs, leftwards-anchored as before. Texts hang from the top of
// their rectangles, so that texts of one row share a baseline whatever height
// their rectangles have.
#include <QLabel>
#include <QRect>

#include <algorithm>

inline void placeText(QLabel* label, const QRect& rect)
{
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QRect r = rect;
    r.setWidth(std::max(rect.width(), label->sizeHint().width()));
    label->setGeometry(r);
}

// Wrapped texts keep their width and grow downwards when the face needs more lines.
inline void placeWrappedText(QLabel* label, const QRect& rect)
{
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QRect r = rect;
    r.setHeight(std::max(rect.height(), label->heightForWidth(rect.width())));
    label->setGeometry(r);
}
