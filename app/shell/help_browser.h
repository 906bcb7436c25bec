// The in-program help browser: the HTML help pages of the program, one per
// topic number (1009 contents, 1032 troubleshooting, ...), shown in a window
// opened at a topic. Links between pages work; one browser window is reused.
#pragma once

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace tv {

class THelpBrowser : public QDialog {
  Q_OBJECT
 public:
  explicit THelpBrowser(QWidget* parent = nullptr);
  // Shows a topic; false (with a page saying so) when its page is missing.
  bool ShowTopic(int topic);
  QTextBrowser* Browser() const { return browser_; }

 private:
  QTextBrowser* browser_;
};

// Opens (or raises) the program's help browser at a topic.
THelpBrowser* ShowHelpTopic(int topic, QWidget* parent);

}  // namespace tv
