// Turns SIGTERM and SIGINT into an orderly close on the user-interface
// thread: the handler writes one byte into a pipe, a socket notifier reads it
// on the event loop and runs the close action (the same path as Exit).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace tv {

class TSignalCloser : public QObject {
  Q_OBJECT
 public:
  explicit TSignalCloser(std::function<void()> close, QObject* parent = nullptr);
  ~TSignalCloser() override;

 private:
  std::function<void()> close_;
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tv
