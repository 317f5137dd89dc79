#include "ui/QtUiPoster.h"

#include <QMetaObject>

namespace orvex {

void QtUiPoster::Post(std::function<void()> task) {
  // A functor with a context object is queued on the context's thread; Qt
  // drops it if the context is destroyed first.
  QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

}  // namespace orvex
