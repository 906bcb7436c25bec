#include "app/shell/resources.h"

#include <QtCore/QtGlobal>
#include <QDir>

// Outside any namespace, as the resource initialiser requires.
static void InitTelvaneResources() { Q_INIT_RESOURCE(telvane); }

namespace tv {
void InitShellResources() {
  static bool done = false;
  if (!done) {
    InitTelvaneResources();
    done = true;
  }
}
}  // namespace tv
