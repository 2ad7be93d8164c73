#pragma once

#include <QRect>

#include <vector>

class QWidget;

namespace sorvane
{

// A place in twips (1/1440 inch): 15 twips a pixel at 96 DPI.
struct Twips {
    int left, top, width, height;
};

// Places controls by twips in a window of fixed size, with a unit taken from the screen's DPI
// and, where larger, from what the controls' fonts need, so no caption is cut or shrunk.
class TwipLayout
{
public:
    void add(QWidget* control, const Twips& place);
    bool isEmpty() const { return m_entries.empty(); }

    // Pixels per twip for the window's DPI and the controls' fonts as they are now.
    double unit(const QWidget& window) const;

    // Sets every control's geometry and the window's fixed size from its client area in twips.
    void apply(QWidget& window, const Twips& clientArea) const;

private:
    struct Entry {
        QWidget* control;
        Twips place;
    };
    std::vector<Entry> m_entries;
};

} // namespace sorvane
