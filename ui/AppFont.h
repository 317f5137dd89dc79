// The font every dialog is laid out with. It is fixed rather than taken from
// the desktop so that dialog-unit layouts come out the same under any locale.
#pragma once

#include <QFont>

class QApplication;

namespace orvex {

QFont DialogFont();
void ApplyAppFont(QApplication& app);

}  // namespace orvex
