// One running copy per user and data folder. The first copy listens on a
// local socket named after the user and the data folder; a second copy
// connects to it, asks it to show itself, and ends without a window.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <filesystem>

namespace tv {

class TSingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit TSingleInstance(const std::filesystem::path& dataFolder, QObject* parent = nullptr);

  // The socket name for this user and data folder.
  static QString ServerName(const std::filesystem::path& dataFolder);

  // True when another copy answered and was asked to show itself (this copy
  // should then end); false when this copy is now the one that listens.
  bool AskRunningCopyToShow();

 signals:
  // A later copy asked this one to show itself.
  void ShowRequested();

 private:
  QString name_;
  QLocalServer server_;
};

}  // namespace tv
