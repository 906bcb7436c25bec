#include "app/shell/messages.h"

#include <QMessageBox>

namespace tv {

namespace {
TMessageHook& Hook() {
  static TMessageHook hook;
  return hook;
}
}  // namespace

void SetMessageHook(TMessageHook hook) { Hook() = std::move(hook); }

void ShowInformation(QWidget* parent, const QString& text) {
  if (Hook()) {
    Hook()(TMessageKind::mkInformation, "Information", text);
    return;
  }
  QMessageBox::information(parent, "Information", text, QMessageBox::Ok);
}

bool AskYesNo(QWidget* parent, const QString& caption, const QString& text, bool yesIsDefault) {
  if (Hook()) return Hook()(TMessageKind::mkQuestion, caption, text);
  return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                               yesIsDefault ? QMessageBox::Yes : QMessageBox::No) ==
         QMessageBox::Yes;
}

}  // namespace tv
