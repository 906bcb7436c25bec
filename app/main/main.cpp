// Program entry of Telvane: makes the data folder, refuses a second running
// copy (the running one is asked to show itself), creates the main window and
// runs the event loop until the window closes. SIGTERM and SIGINT close the
// window the same way the Exit button does.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include "app/shell/main_screen.h"
#include "app/shell/resources.h"
#include "app/shell/signal_close.h"
#include "app/shell/single_instance.h"
#include "send/config/app_folder.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Telvane");
  QApplication::setDesktopFileName("telvane");
  tv::InitShellResources();
  QApplication::setWindowIcon(QIcon(":/icons/telvane.png"));

  if (!tv::EnsureAppFolder()) {
    QMessageBox::information(nullptr, "Information",
                             QString("Unable to create the data folder %1 - closing program")
                                 .arg(QString::fromStdString(tv::AppFolder().string())));
    return 1;
  }

  tv::TSingleInstance instance(tv::AppFolder());
  if (instance.AskRunningCopyToShow()) return 0;

  QApplication::processEvents();
  QApplication::processEvents();

  tv::TMainScreen screen;
  QObject::connect(&screen, &tv::TMainScreen::Closed, &app, &QApplication::quit,
                   Qt::QueuedConnection);
  QObject::connect(&instance, &tv::TSingleInstance::ShowRequested, &screen, [&screen] {
    if (screen.isMinimized()) screen.showNormal();
    screen.show();
    screen.raise();
    screen.activateWindow();
  });
  tv::TSignalCloser closer([&screen] { screen.close(); });
  screen.FormActivate();
  return app.exec();
}
