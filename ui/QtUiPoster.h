// The UI thread's hand-over on Qt: queues each task on the event loop of the
// thread that made the poster. Tasks still queued when the poster is
// destroyed are dropped.
#pragma once

#include <functional>

#include <QObject>

#include "engine/UiPoster.h"

namespace orvex {

class QtUiPoster final : public QObject, public UiPoster {
 public:
  explicit QtUiPoster(QObject* parent = nullptr) : QObject(parent) {}
  void Post(std::function<void()> task) override;
};

}  // namespace orvex
