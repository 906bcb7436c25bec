#include "app/store/rebuild_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

#include "app/store/fax_tables.h"
#include "platform/core/exceptions.h"
#include "platform/xbase/xbase_table.h"

namespace tv {

namespace fs = std::filesystem;

TRebuildInd::TRebuildInd(XbaseTable& outgoing, XbaseTable& received, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      outgoing_(outgoing),
      received_(received),
      status_(new QLabel(this)),
      gauge_(new QProgressBar(this)) {
  setObjectName("RebuildInd");
  setWindowTitle("Rebuild Indexes");
  setModal(true);
  status_->setObjectName("StatusLine");
  gauge_->setObjectName("Gauge");
  gauge_->setRange(0, 100);
  gauge_->setValue(0);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(gauge_);
  layout->addWidget(status_);
  setMinimumWidth(380);
}

QString TRebuildInd::StatusText() const { return status_->text(); }
int TRebuildInd::GaugeValue() const { return gauge_->value(); }

void TRebuildInd::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!started_) {
    started_ = true;
    QTimer::singleShot(0, this, [this] {
      RunRebuild();
      accept();
    });
  }
}

void TRebuildInd::closeEvent(QCloseEvent* event) {
  // Closing half way would leave a table without its index.
  if (!done_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TRebuildInd::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && !done_) return;
  QDialog::keyPressEvent(event);
}

void TRebuildInd::SetStatus(const QString& text) {
  status_->setText(text);
  QApplication::processEvents();
}

void TRebuildInd::RebuildOne(XbaseTable& table, const TTableSchema& schema, const QString& what,
                             bool keepOrder) {
  table.SetProgressHandler([this](int percent) {
    gauge_->setValue(percent);
    QApplication::processEvents();
  });
  const int order = keepOrder ? table.CurrentOrder() : 0;
  // The index file goes first, so that the tags are built from the packed rows.
  table.CloseIndexFiles();
  std::error_code ec;
  const fs::path index = IndexFileOf(schema);
  fs::remove(index, ec);
  if (ec) faults_ << QString("%1: %2").arg(QString::fromStdString(index.string()),
                                           QString::fromStdString(ec.message()));

  SetStatus(QString("Removing %1 file records marked for deletion").arg(what));
  gauge_->setValue(0);
  try {
    table.PackTable();
  } catch (const ETvException& e) {
    faults_ << QString::fromStdString(e.what());
  }
  gauge_->setValue(0);

  SetStatus(QString("Rebuilding %1 file indexes").arg(what));
  try {
    CreateStoreTags(table, schema);
    if (keepOrder) {
      table.SetOrderByNumber(order);
    } else {
      table.SetOrderByName("NAME");
    }
  } catch (const ETvException& e) {
    faults_ << QString::fromStdString(e.what());
  }
  table.SetProgressHandler({});
}

void TRebuildInd::RunRebuild() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  if (outgoing_.IsOpen()) RebuildOne(outgoing_, OutgoingSchema(), "FAX", true);
  if (received_.IsOpen()) RebuildOne(received_, ReceivedSchema(), "RECEIVE", true);
  {
    XbaseTable phoneBook;
    if (OpenPhoneBookTable(phoneBook, true)) {
      RebuildOne(phoneBook, PhoneBookSchema(), "PHONE", false);
      try {
        phoneBook.Close();
      } catch (const ETvException& e) {
        faults_ << QString::fromStdString(e.what());
      }
    }
  }
  QApplication::restoreOverrideCursor();
  done_ = true;
  if (!faults_.isEmpty() && isVisible()) {
    QMessageBox::information(this, "Information",
                             "Rebuilding the indexes met these problems:\n\n" +
                                 faults_.join("\n"));
  }
}

}  // namespace tv
