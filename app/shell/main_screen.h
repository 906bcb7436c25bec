// TMainScreen: the program's one main window. Two tabs, "Out&going Faxes"
// over ZTOUT.DBF and "&Incoming Faxes" over ZTREC.DBF, a button bar above
// them, the File and Help menus, the rules that enable every command
// (SetButtons), and the orderly close: ask while a fax arrives, stop receive
// mode, close the tables, save the window placement.
#pragma once

#include <QMainWindow>
#include <memory>

#include "platform/xbase/xbase_table.h"

class QAction;
class QLabel;
class QMenu;
class QStackedWidget;
class QTabBar;
class QTableView;
class QToolButton;

namespace tv {

class TFaxTableModel;

class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainScreen(QWidget* parent = nullptr);
  ~TMainScreen() override;

  // The first activation (placement, show) and every later one.
  void FormActivate();
  // The close query: false keeps the program running.
  bool FormCloseQuery();
  // After an accepted close: saves the placement.
  void FormClose();

  void TabSet1Click();
  void SetButtons();
  void SetArchiveCaptions();
  void FaxDataSourceDataChange();

  // Reopens the outgoing table so that rows added elsewhere appear.
  void FaxTableCloseAndOpen();
  bool OpenRecFaxDBF();
  bool MakeRecFaxDBF();

  // Menu and button handlers.
  void mnuShowHintClick();
  void mnuShowArchivesClick();
  void Contents1Click();
  void TroubleshootingTips1Click();
  void About1Click();
  void Exit1Click();
  void ExitbuttonClick();
  void CloseButtonClick();
  void mnuRebuildIndexesClick();
  void mnuPreferencesClick();
  void mnuPhoneBookClick();
  void ResetModem1Click();
  void NewbuttonClick();
  void AddCoverButtonClick();
  void EditButtonClick();
  void CloneButtonClick();
  void ForwardButtonClick();
  void DeleteButtonClick();
  void ArchivebuttonClick();
  void SendButtonClick();
  void ReceiveButtonClick();
  void mnuViewPrintClick();
  void mnuDateSentClick();
  void mnuSubjectClick();
  void mnuRecipientClick();
  void mnuSortDateReceivedClick();
  void mnuSortFromClick();

  // State.
  int PageIndex() const;
  bool FirstActivation() const { return firstActivation_; }
  bool AskPreferencesAtStart() const { return askPreferencesAtStart_; }
  bool ReceiveModeActive() const { return receiveModeActive_; }
  bool FaxInProgress() const { return faxInProgress_; }
  bool HintsShown() const { return hintsShown_; }
  // Receive mode is Part of the receive code; these set the flags it keeps.
  void SetReceiveModeActive(bool active);
  void SetFaxInProgress(bool inProgress) { faxInProgress_ = inProgress; }

  XbaseTable& FaxTable() { return faxTable_; }
  XbaseTable& RecTable() { return recTable_; }
  TFaxTableModel* FaxModel() const { return faxModel_; }
  TFaxTableModel* RecModel() const { return recModel_; }
  // The menu the sort button drops down on the current tab.
  QMenu* CurrentSortMenu() const;

 signals:
  // The window was closed (the program ends).
  void Closed();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void FormCreate();
  void BuildButtonBar();
  void BuildMenus();
  void BuildLists();
  QToolButton* AddButton(const char* name, const char* caption, const char* hint, int icon);
  QAction* AddItem(QMenu* menu, const char* name, const char* caption, const char* shortcut,
                   const char* hint);
  void ApplyArchiveFilter();
  void ApplyHints();
  void PostCloseRequest();
  void SyncGridToTable(QTableView* grid, TFaxTableModel* model);
  // Selects a tag's order on a table and ticks its sort item.
  void SelectSortOrder(bool incoming, const char* tag, QAction* item);
  bool IsEmpty(const TFaxTableModel* model) const;

  XbaseTable faxTable_;
  XbaseTable recTable_;
  TFaxTableModel* faxModel_ = nullptr;
  TFaxTableModel* recModel_ = nullptr;

  bool firstActivation_ = true;
  bool askPreferencesAtStart_ = false;
  bool receiveModeActive_ = false;
  bool faxInProgress_ = false;
  int lastReceiveError_ = 0;
  uint16_t pagesReceived_ = 0;
  bool hintsShown_ = true;
  bool closeRequested_ = false;
  bool closing_ = false;
  bool syncing_ = false;

  QWidget* buttonBar_ = nullptr;
  QTabBar* tabSet1_ = nullptr;
  QStackedWidget* noteBook_ = nullptr;
  QTableView* faxGrid_ = nullptr;
  QTableView* recFaxGrid_ = nullptr;
  QLabel* status_ = nullptr;

  QToolButton* newbutton_ = nullptr;
  QToolButton* addCoverButton_ = nullptr;
  QToolButton* editButton_ = nullptr;
  QToolButton* cloneButton_ = nullptr;
  QToolButton* forwardButton_ = nullptr;
  QToolButton* deleteButton_ = nullptr;
  QToolButton* archivebutton_ = nullptr;
  QToolButton* orderButton_ = nullptr;
  QToolButton* sendButton_ = nullptr;
  QToolButton* receiveButton_ = nullptr;
  QToolButton* buttonviewPrint_ = nullptr;
  QToolButton* exitbutton_ = nullptr;

  QMenu* fileMenu_ = nullptr;  // mnuresetModem
  QMenu* helpMenu_ = nullptr;
  QMenu* faxSortMenu_ = nullptr;
  QMenu* recSortMenu_ = nullptr;
  QAction* mnuNewCoverSheet_ = nullptr;
  QAction* mnuAddCoverSheet_ = nullptr;
  QAction* mnuEdit_ = nullptr;
  QAction* mnuClone_ = nullptr;
  QAction* mnuDelete_ = nullptr;
  QAction* mnuArchive_ = nullptr;
  QAction* mnuForward_ = nullptr;
  QAction* mnuShowArchives_ = nullptr;
  QAction* mnuSend_ = nullptr;
  QAction* mnuReceive_ = nullptr;
  QAction* mnuViewPrint_ = nullptr;
  QAction* resetModem1_ = nullptr;
  QAction* mnuPhoneBook_ = nullptr;
  QAction* mnuRebuildIndexes_ = nullptr;
  QAction* mnuPreferences_ = nullptr;
  QAction* exit1_ = nullptr;
  QAction* contents1_ = nullptr;
  QAction* about1_ = nullptr;
  QAction* troubleshootingTips1_ = nullptr;
  QAction* mnuShowHint_ = nullptr;
  QAction* mnuDateSent_ = nullptr;
  QAction* mnuSubject_ = nullptr;
  QAction* mnuRecipient_ = nullptr;
  QAction* mnuSortDateReceived_ = nullptr;
  QAction* mnuSortFrom_ = nullptr;
};

}  // namespace tv
