#pragma once
// Window geometry is designed in twips (1/1440 inch); this turns it into
// pixels for the screen a widget is on, so sizes scale with the screen.

#include <QWidget>

namespace corvina {

inline int TwipsToPixels(int twips, const QWidget& widget) {
    return twips * widget.logicalDpiX() / 1440;
}

}  // namespace corvina
