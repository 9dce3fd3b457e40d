#pragma once
// The busy pointer for as long as a WaitPointer lives: long list fills and
// analyses show it, and it comes back however the work ends. Work that lets
// the user go on meanwhile shows Qt::BusyCursor, the arrow with a clock.

#include <QApplication>

namespace corvina {

class WaitPointer {
public:
    explicit WaitPointer(Qt::CursorShape shape = Qt::WaitCursor) { QApplication::setOverrideCursor(shape); }
    ~WaitPointer() { QApplication::restoreOverrideCursor(); }
    WaitPointer(const WaitPointer&) = delete;
    WaitPointer& operator=(const WaitPointer&) = delete;
};

}  // namespace corvina
