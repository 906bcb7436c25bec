// Program entry of Telvane: makes the data folder, refuses a second running
// copy (the running one is asked to show itself), creates the main window and
// runs the event loop until the window closes. SIGTERM and SIGINT close the
// window the same way the Exit button does.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <memory>

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

  // Signals are turned into an orderly close from here on; one that comes
  // while the window is still being made (a message box of the start-up may
  // be open) ends the start-up instead.
  std::unique_ptr<tv::TMainScreen> screen;
  bool endAtOnce = false;
  tv::TSignalCloser closer([&] {
    if (screen) {
      screen->close();
    } else {
      endAtOnce = true;
      QApplication::exit(0);
    }
  });

  screen = std::make_unique<tv::TMainScreen>();
  if (endAtOnce) return 0;
  QObject::connect(screen.get(), &tv::TMainScreen::Closed, &app, &QApplication::quit,
                   Qt::QueuedConnection);
  QObject::connect(&instance, &tv::TSingleInstance::ShowRequested, screen.get(), [&screen] {
    if (screen->isMinimized()) screen->showNormal();
    screen->show();
    screen->raise();
    screen->activateWindow();
  });
  screen->FormActivate();
  const int result = app.exec();
  screen.reset();
  return result;
}
