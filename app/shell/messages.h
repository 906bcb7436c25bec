// The two kinds of message box of the program: an information box titled
// "Information" with an OK button, and a Yes/No question whose caption the
// caller gives. Tests put a hook in place of the boxes.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace tv {

enum class TMessageKind { mkInformation, mkQuestion };

// Returns true for Yes (questions); the answer of an information box is ignored.
using TMessageHook =
    std::function<bool(TMessageKind kind, const QString& caption, const QString& text)>;

void ShowInformation(QWidget* parent, const QString& text);
// No is the default button unless yesIsDefault.
bool AskYesNo(QWidget* parent, const QString& caption, const QString& text,
              bool yesIsDefault = false);

// Replaces the boxes (an empty hook brings them back).
void SetMessageHook(TMessageHook hook);

}  // namespace tv
