#include "app/shell/about_box.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace tv {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About Telvane");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  auto* picture = new QLabel(this);
  picture->setPixmap(QIcon(":/icons/telvane.png").pixmap(64, 64));
  auto* name = new QLabel("<b>Telvane</b>", this);
  auto* version = new QLabel(kVersionLine, this);
  version->setObjectName("VersionLabel");
  auto* platform = new QLabel(kPlatformLine, this);
  platform->setObjectName("PlatformLabel");
  auto* ok = new QPushButton("OK", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* texts = new QVBoxLayout;
  texts->addWidget(name);
  texts->addWidget(version);
  texts->addWidget(platform);
  texts->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(picture, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(texts);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(280, 150)));
}

}  // namespace tv
