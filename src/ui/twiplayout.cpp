#include "ui/twiplayout.h"

#include <QCheckBox>
#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>

#include <algorithm>

namespace sorvane
{

namespace
{

QRect toPixels(const Twips& t, double unit)
{
    const auto px = [unit](int twips) { return qRound(twips * unit); };
    return QRect(px(t.left), px(t.top), px(t.width), px(t.height));
}

// The space a control's style keeps around the text it draws, measured on a sample rectangle.
QMargins textMargins(const QWidget& control)
{
    const QRect sample(0, 0, 400, 200);
    QRect inner = sample;
    if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.rect = sample;
        option.text = button->text();
        inner = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(&control)) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.rect = sample;
        option.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        option.state |= QStyle::State_Sunken;
        inner = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit) -
                edit->textMargins();
    } else {
        inner = sample - control.contentsMargins();
    }
    return QMargins(inner.left() - sample.left(), inner.top() - sample.top(),
                    sample.right() - inner.right(), sample.bottom() - inner.bottom());
}

QString captionOf(const QWidget& control)
{
    if (const auto* label = qobject_cast<const QLabel*>(&control))
        return label->text();
    if (const auto* button = qobject_cast<const QPushButton*>(&control))
        return button->text();
    return QString();
}

} // namespace

void TwipLayout::add(QWidget* control, const Twips& place)
{
    m_entries.push_back({control, place});
}

// Pixels per twip. At the design's font the screen's DPI alone decides it; a larger font widens it
// until every caption and field text fits its control, so the whole window grows with the font,
// as dialog units do, and no text is cut or shrunk.
double TwipLayout::unit(const QWidget& window) const
{
    double unit = window.logicalDpiX() / 1440.0;
    // A pixel to spare: every edge is rounded to a whole pixel.
    const auto need = [&unit](double pixels, int twips) {
        unit = std::max(unit, (pixels + 1) / twips);
    };
    for (const Entry& entry : m_entries) {
        if (qobject_cast<const QCheckBox*>(entry.control))
            continue;
        const QFontMetricsF metrics(entry.control->font());
        const QMargins margins = textMargins(*entry.control);
        need(metrics.horizontalAdvance(captionOf(*entry.control)) + margins.left() +
                 margins.right(),
             entry.place.width);
        need(metrics.height() + margins.top() + margins.bottom(), entry.place.height);
    }
    return unit;
}

void TwipLayout::apply(QWidget& window, const Twips& clientArea) const
{
    const double unit = this->unit(window);
    for (const Entry& entry : m_entries)
        entry.control->setGeometry(toPixels(entry.place, unit));
    window.setFixedSize(toPixels(clientArea, unit).size());
}

} // namespace sorvane
