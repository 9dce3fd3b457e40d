#pragma once
// The busy pointer for as long as a WaitPointer lives: long list fills and
// analyses show it, and it comes back however the work ends.

#include <QApplication>

namespace corvina {

class WaitPointer {
public:
    WaitPointer() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitPointer() { QApplication::restoreOverrideCursor(); }
    WaitPointer(const WaitPointer&) = delete;
    WaitPointer& operator=(const WaitPointer&) = delete;
};

}  // namespace corvina
