// The "Rebuild Indexes" dialog: packs each table (removing rows marked for
// deletion) and builds its tags afresh, for the outgoing, the received and
// the phone book table in that order, with a gauge and a status line. It
// starts on its own once shown and closes itself when done; it has no
// buttons and no window controls.
#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QProgressBar;

namespace tv {

class XbaseTable;
struct TTableSchema;

class TRebuildInd : public QDialog {
  Q_OBJECT
 public:
  TRebuildInd(XbaseTable& outgoing, XbaseTable& received, QWidget* parent = nullptr);

  // Runs the rebuild at once (the dialog runs it by itself when shown).
  void RunRebuild();
  // Faults met on the way, one line each (empty when all went well).
  const QStringList& Faults() const { return faults_; }
  QString StatusText() const;
  int GaugeValue() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  // One table: status texts use `what` ("FAX", "RECEIVE", "PHONE").
  void RebuildOne(XbaseTable& table, const TTableSchema& schema, const QString& what,
                  bool keepOrder);
  void SetStatus(const QString& text);

  XbaseTable& outgoing_;
  XbaseTable& received_;
  QLabel* status_;
  QProgressBar* gauge_;
  QStringList faults_;
  bool started_ = false;
  bool done_ = false;
};

}  // namespace tv
