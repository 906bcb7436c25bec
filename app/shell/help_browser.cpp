#include "app/shell/help_browser.h"

#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QDialogButtonBox>

#include "app/store/fax_files.h"
#include "send/config/window_placement.h"

namespace tv {

THelpBrowser::THelpBrowser(QWidget* parent) : QDialog(parent), browser_(new QTextBrowser(this)) {
  setWindowTitle("Telvane Help");
  setObjectName("HelpBrowser");
  browser_->setOpenLinks(true);
  browser_->setOpenExternalLinks(true);
  browser_->setSearchPaths({QString::fromStdString(HelpFolder().string())});
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(browser_);
  layout->addWidget(buttons);
  resize(640, 520);
}

bool THelpBrowser::ShowTopic(int topic) {
  const QString page = QString::number(topic) + ".html";
  const QString path = QString::fromStdString((HelpFolder() / page.toStdString()).string());
  if (!QFile::exists(path)) {
    browser_->setHtml(QStringLiteral("<h1>Help</h1><p>The help page for topic %1 is missing "
                                     "(looked for %2).</p>")
                          .arg(topic)
                          .arg(path.toHtmlEscaped()));
    return false;
  }
  browser_->setSource(QUrl::fromLocalFile(path));
  return true;
}

THelpBrowser* ShowHelpTopic(int topic, QWidget* parent) {
  static QPointer<THelpBrowser> browser;
  if (!browser) {
    browser = new THelpBrowser(parent);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    CenterDialog(browser);
  }
  browser->ShowTopic(topic);
  browser->show();
  browser->raise();
  browser->activateWindow();
  return browser;
}

}  // namespace tv
