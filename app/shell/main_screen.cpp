#include "app/shell/main_screen.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QStackedWidget>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/shell/about_box.h"
#include "app/shell/fax_table_model.h"
#include "app/shell/help_browser.h"
#include "app/shell/messages.h"
#include "app/shell/resources.h"
#include "app/store/fax_files.h"
#include "app/store/fax_tables.h"
#include "app/store/rebuild_dialog.h"
#include "platform/core/exceptions.h"
#include "send/config/app_folder.h"
#include "send/config/configuration.h"
#include "send/config/window_placement.h"

namespace tv {

namespace {

// Hints are written with \r for a line break.
QString HintText(const char* hint) { return QString::fromUtf8(hint).replace('\r', '\n'); }

constexpr const char* kArchiveHint =
    "Archive this fax [CTRL+A]\r(This makes the fax invisible, but does not\rdelete it. You "
    "can view archived faxes by\rtoggling the File..Show Archived Faxes menu)";
constexpr const char* kUnarchiveHint = "Unarchive this fax [CTRL+A]";

// Pop-up hints appear after 1200 ms.
class THintDelayStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == QStyle::SH_ToolTip_WakeUpDelay) return 1200;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

}  // namespace

TMainScreen::TMainScreen(QWidget* parent) : QMainWindow(parent) {
  InitShellResources();
  setObjectName("MainScreen");
  setWindowTitle("Telvane");
  setWindowIcon(QIcon(":/icons/telvane.png"));
  QFont font("Arial");
  font.setPixelSize(11);
  setFont(font);
  BuildMenus();
  BuildButtonBar();
  BuildLists();
  resize(632, 383 + menuBar()->sizeHint().height());
  qApp->installEventFilter(this);
  FormCreate();
}

TMainScreen::~TMainScreen() {
  qApp->removeEventFilter(this);
  // The models detach from the tables before the tables go.
  delete faxModel_;
  delete recModel_;
  faxModel_ = recModel_ = nullptr;
}

// ---- Building the window ---------------------------------------------------

QToolButton* TMainScreen::AddButton(const char* name, const char* caption, const char* hint,
                                    int icon) {
  auto* button = new QToolButton(buttonBar_);
  button->setObjectName(name);
  button->setText(caption);
  button->setToolTip(HintText(hint));
  button->setIcon(style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setAutoRaise(true);
  button->setMinimumWidth(48);
  buttonBar_->layout()->addWidget(button);
  return button;
}

void TMainScreen::BuildButtonBar() {
  buttonBar_ = new QWidget(this);
  buttonBar_->setObjectName("ButtonBar");
  auto* layout = new QHBoxLayout(buttonBar_);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(1);
  buttonBar_->setAutoFillBackground(true);
  buttonBar_->setStyleSheet(
      "#ButtonBar { background: #808080; }"
      "#ButtonBar QToolButton { color: white; background: transparent; }"
      "#ButtonBar QToolButton:hover { background: #969696; }"
      "#ButtonBar QToolButton:disabled { color: #c0c0c0; }");

  newbutton_ = AddButton("Newbutton", "&New",
                         "Create a new stand-alone fax cover sheet for\ra quick one page fax message",
                         QStyle::SP_FileIcon);
  addCoverButton_ = AddButton("AddCoverButton", "Add C&over",
                              "Add a fax cover sheet to the existing fax",
                              QStyle::SP_FileDialogNewFolder);
  editButton_ = AddButton(
      "EditButton", "&Edit",
      "Edit the currently selected fax [CTRL+E]\r\rOutgoing faxes: If the fax has a cover "
      "sheet, the cover sheet \reditor will be used, otherwise the fax \rinformation editor "
      "will be used.)\r\rIncoming faxes: You be able to edit your notes about the fax.",
      QStyle::SP_FileDialogContentsView);
  cloneButton_ = AddButton("CloneButton", "&Clone", "Clone the currently selected fax [CTRL+C]",
                           QStyle::SP_FileLinkIcon);
  forwardButton_ = AddButton("ForwardButton", "For&ward",
                             "Forward the current received fax to the Outgoing Faxes tab",
                             QStyle::SP_ArrowForward);
  deleteButton_ = AddButton(
      "DeleteButton", "&Delete",
      "Delete  the currently selected fax [CTRL+D]\r(If the fax has both a cover sheet and a "
      "fax\rbody, you will be given the option to delete\ronly the cover sheet or only the "
      "body of the\rfax.)",
      QStyle::SP_TrashIcon);
  archivebutton_ = AddButton("Archivebutton", "&Archive", kArchiveHint, QStyle::SP_DirClosedIcon);
  orderButton_ = AddButton("OrderButton", "Sor&t", "Change the sort order of the faxes",
                           QStyle::SP_ArrowDown);
  orderButton_->setPopupMode(QToolButton::InstantPopup);
  orderButton_->setMenu(faxSortMenu_);
  sendButton_ = AddButton("SendButton", "&Send", "Send the currently selected fax [CTRL+S]",
                          QStyle::SP_ArrowUp);
  receiveButton_ = AddButton("ReceiveButton", "&Receive", "Go into Fax Receive mode [CTRL+R]",
                             QStyle::SP_ArrowDown);
  buttonviewPrint_ = AddButton("ButtonviewPrint", "&View",
                               "View or print the current fax [CTRL+V]",
                               QStyle::SP_FileDialogDetailedView);
  exitbutton_ = AddButton("Exitbutton", "E&xit", "Exit the program [CTRL+X]",
                          QStyle::SP_DialogCloseButton);
  layout->addStretch();

  connect(newbutton_, &QToolButton::clicked, this, &TMainScreen::NewbuttonClick);
  connect(addCoverButton_, &QToolButton::clicked, this, &TMainScreen::AddCoverButtonClick);
  connect(editButton_, &QToolButton::clicked, this, &TMainScreen::EditButtonClick);
  connect(cloneButton_, &QToolButton::clicked, this, &TMainScreen::CloneButtonClick);
  connect(forwardButton_, &QToolButton::clicked, this, &TMainScreen::ForwardButtonClick);
  connect(deleteButton_, &QToolButton::clicked, this, &TMainScreen::DeleteButtonClick);
  connect(archivebutton_, &QToolButton::clicked, this, &TMainScreen::ArchivebuttonClick);
  connect(sendButton_, &QToolButton::clicked, this, &TMainScreen::SendButtonClick);
  connect(receiveButton_, &QToolButton::clicked, this, &TMainScreen::ReceiveButtonClick);
  connect(buttonviewPrint_, &QToolButton::clicked, this, &TMainScreen::mnuViewPrintClick);
  connect(exitbutton_, &QToolButton::clicked, this, &TMainScreen::ExitbuttonClick);
}

QAction* TMainScreen::AddItem(QMenu* menu, const char* name, const char* caption,
                              const char* shortcut, const char* hint) {
  QAction* item = menu->addAction(caption);
  item->setObjectName(name);
  if (shortcut && *shortcut) item->setShortcut(QKeySequence(shortcut));
  if (hint && *hint) {
    item->setToolTip(HintText(hint));
    item->setStatusTip(HintText(hint));
  }
  // The window's shortcuts work wherever the focus is inside it.
  item->setShortcutContext(Qt::WindowShortcut);
  return item;
}

void TMainScreen::BuildMenus() {
  fileMenu_ = menuBar()->addMenu("&File");
  fileMenu_->setObjectName("mnuresetModem");
  fileMenu_->setToolTipsVisible(true);
  mnuNewCoverSheet_ = AddItem(fileMenu_, "mnuNewCoverSheet", "&New Cover Sheet", "Ctrl+N", "");
  mnuAddCoverSheet_ = AddItem(fileMenu_, "mnuAddCoverSheet", "Add C&over Sheet", "Ctrl+O", "");
  mnuEdit_ = AddItem(fileMenu_, "mnuEdit", "&Edit", "Ctrl+E", "Edit the currently selected fax");
  mnuClone_ = AddItem(fileMenu_, "mnuClone", "&Clone", "Ctrl+C", "Clone the currently selected fax");
  mnuDelete_ =
      AddItem(fileMenu_, "mnuDelete", "&Delete", "Ctrl+D", "Delete the currently selected fax");
  mnuArchive_ = AddItem(fileMenu_, "mnuArchive", "&Archive", "Ctrl+A", "");
  mnuForward_ = AddItem(fileMenu_, "mnuForward", "For&ward Received Fax", "", "");
  fileMenu_->addSeparator();
  mnuShowArchives_ = AddItem(fileMenu_, "mnuShowArchives", "S&how Archived Faxes", "", "");
  mnuShowArchives_->setCheckable(true);
  fileMenu_->addSeparator();
  mnuSend_ = AddItem(fileMenu_, "mnuSend", "&Send Fax", "Ctrl+S", "Send the currently selected fax");
  mnuReceive_ = AddItem(fileMenu_, "mnuReceive", "&Receive Fax", "Ctrl+R", "");
  mnuViewPrint_ = AddItem(fileMenu_, "mnuViewPrint", "&View/Print Fax", "Ctrl+V",
                          "See a preview of and optionally  print the fax");
  resetModem1_ = AddItem(fileMenu_, "ResetModem1", "&Modem Reset", "", "");
  fileMenu_->addSeparator();
  mnuPhoneBook_ = AddItem(fileMenu_, "mnuPhoneBook", "&Phone Book", "",
                          "Create or modify phone book entries");
  fileMenu_->addSeparator();
  mnuRebuildIndexes_ =
      AddItem(fileMenu_, "mnuRebuildIndexes", "Rebuild &Indexes", "", "Do this every 2 weeks ");
  mnuPreferences_ =
      AddItem(fileMenu_, "mnuPreferences", "P&references", "", "Set Telvane preferences");
  fileMenu_->addSeparator();
  exit1_ = AddItem(fileMenu_, "Exit1", "E&xit", "Ctrl+X", "Exit Telvane");

  helpMenu_ = menuBar()->addMenu("&Help");
  helpMenu_->setObjectName("HelpMenu");
  helpMenu_->setToolTipsVisible(true);
  contents1_ = AddItem(helpMenu_, "Contents1", "&Contents", "", "Open the Telvane help file");
  about1_ = AddItem(helpMenu_, "About1", "&About", "", "Information about Telvane");
  troubleshootingTips1_ =
      AddItem(helpMenu_, "TroubleshootingTips1", "&Troubleshooting Tips", "", "");
  helpMenu_->addSeparator();
  mnuShowHint_ = AddItem(helpMenu_, "mnuShowHint", "&Show Hints", "", "");
  mnuShowHint_->setCheckable(true);
  mnuShowHint_->setChecked(true);

  // The sort pop-ups of the two tabs.
  faxSortMenu_ = new QMenu(this);
  faxSortMenu_->setObjectName("FaxSortMenu");
  mnuDateSent_ = AddItem(faxSortMenu_, "mnuDateSent", "&Date Sent", "", "");
  mnuSubject_ = AddItem(faxSortMenu_, "mnuSubject", "&Subject", "", "");
  mnuRecipient_ = AddItem(faxSortMenu_, "mnuRecipient", "&Recipient", "", "");
  recSortMenu_ = new QMenu(this);
  recSortMenu_->setObjectName("RecSortMenu");
  mnuSortDateReceived_ = AddItem(recSortMenu_, "mnuSortDateReceived", "Date Received", "", "");
  mnuSortFrom_ = AddItem(recSortMenu_, "mnuSortFrom", "From", "", "");
  for (QMenu* menu : {faxSortMenu_, recSortMenu_}) {
    auto* group = new QActionGroup(menu);
    for (QAction* item : menu->actions()) {
      item->setCheckable(true);
      group->addAction(item);
    }
  }
  mnuDateSent_->setChecked(true);
  mnuSortDateReceived_->setChecked(true);

  // Items that click a button run it as the button would, enabled or not.
  connect(mnuNewCoverSheet_, &QAction::triggered, this, &TMainScreen::NewbuttonClick);
  connect(mnuAddCoverSheet_, &QAction::triggered, this, &TMainScreen::AddCoverButtonClick);
  connect(mnuEdit_, &QAction::triggered, this, [this] { editButton_->click(); });
  connect(mnuClone_, &QAction::triggered, this, [this] { cloneButton_->click(); });
  connect(mnuDelete_, &QAction::triggered, this, [this] { deleteButton_->click(); });
  connect(mnuArchive_, &QAction::triggered, this, &TMainScreen::ArchivebuttonClick);
  connect(mnuForward_, &QAction::triggered, this, &TMainScreen::ForwardButtonClick);
  connect(mnuShowArchives_, &QAction::triggered, this, &TMainScreen::mnuShowArchivesClick);
  connect(mnuSend_, &QAction::triggered, this, [this] { sendButton_->click(); });
  connect(mnuReceive_, &QAction::triggered, this, &TMainScreen::ReceiveButtonClick);
  connect(mnuViewPrint_, &QAction::triggered, this, &TMainScreen::mnuViewPrintClick);
  connect(resetModem1_, &QAction::triggered, this, &TMainScreen::ResetModem1Click);
  connect(mnuPhoneBook_, &QAction::triggered, this, &TMainScreen::mnuPhoneBookClick);
  connect(mnuRebuildIndexes_, &QAction::triggered, this, &TMainScreen::mnuRebuildIndexesClick);
  connect(mnuPreferences_, &QAction::triggered, this, &TMainScreen::mnuPreferencesClick);
  connect(exit1_, &QAction::triggered, this, &TMainScreen::Exit1Click);
  connect(contents1_, &QAction::triggered, this, &TMainScreen::Contents1Click);
  connect(about1_, &QAction::triggered, this, &TMainScreen::About1Click);
  connect(troubleshootingTips1_, &QAction::triggered, this, &TMainScreen::TroubleshootingTips1Click);
  connect(mnuShowHint_, &QAction::triggered, this, &TMainScreen::mnuShowHintClick);
  connect(mnuDateSent_, &QAction::triggered, this, &TMainScreen::mnuDateSentClick);
  connect(mnuSubject_, &QAction::triggered, this, &TMainScreen::mnuSubjectClick);
  connect(mnuRecipient_, &QAction::triggered, this, &TMainScreen::mnuRecipientClick);
  connect(mnuSortDateReceived_, &QAction::triggered, this, &TMainScreen::mnuSortDateReceivedClick);
  connect(mnuSortFrom_, &QAction::triggered, this, &TMainScreen::mnuSortFromClick);
}

void TMainScreen::BuildLists() {
  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(buttonBar_);

  tabSet1_ = new QTabBar(central);
  tabSet1_->setObjectName("TabSet1");
  tabSet1_->addTab("Out&going Faxes");
  tabSet1_->addTab("&Incoming Faxes");
  tabSet1_->setDrawBase(false);
  tabSet1_->setExpanding(false);
  // The tab bar itself makes Alt with a tab's underlined letter select it.

  noteBook_ = new QStackedWidget(central);
  noteBook_->setObjectName("NoteBook");
  faxGrid_ = new QTableView(noteBook_);
  faxGrid_->setObjectName("FaxGrid");
  recFaxGrid_ = new QTableView(noteBook_);
  recFaxGrid_->setObjectName("RecFaxGrid");
  for (QTableView* grid : {faxGrid_, recFaxGrid_}) {
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 4);
    grid->verticalHeader()->setFixedWidth(12);
    grid->horizontalHeader()->setSectionsMovable(true);
    grid->horizontalHeader()->setHighlightSections(false);
    grid->setWordWrap(false);
    grid->setAlternatingRowColors(false);
    noteBook_->addWidget(grid);
  }
  connect(tabSet1_, &QTabBar::currentChanged, this, [this](int) { TabSet1Click(); });
  connect(faxGrid_, &QTableView::doubleClicked, this, [this] {
    if (editButton_->isEnabled()) EditButtonClick();
  });

  status_ = new QLabel(central);
  status_->setObjectName("Status");
  status_->setFixedHeight(30);
  status_->setAlignment(Qt::AlignCenter);
  status_->setFrameShape(QFrame::Panel);
  status_->setFrameShadow(QFrame::Sunken);
  status_->hide();

  layout->addWidget(tabSet1_);
  layout->addWidget(noteBook_, 1);
  layout->addWidget(status_);
  setCentralWidget(central);
}

// ---- Creation and activation -------------------------------------------------

void TMainScreen::FormCreate() {
  firstActivation_ = true;
  ArchiveFilter() = kHideArchivedFilter;
  noteBook_->setCurrentIndex(0);
  tabSet1_->setCurrentIndex(0);

  faxModel_ = new TFaxTableModel(faxTable_, OutgoingSchema(), this);
  recModel_ = new TFaxTableModel(recTable_, ReceivedSchema(), this);
  faxGrid_->setModel(faxModel_);
  recFaxGrid_->setModel(recModel_);
  for (auto [grid, model] : {std::pair{faxGrid_, faxModel_}, std::pair{recFaxGrid_, recModel_}}) {
    // A column is as wide as its display width in characters, and at least
    // as wide as its label.
    const int charWidth = grid->fontMetrics().averageCharWidth();
    const QFontMetrics header(grid->horizontalHeader()->font());
    for (int c = 0; c < model->columnCount(); ++c) {
      const TGridColumn& column = model->Columns()[static_cast<size_t>(c)];
      int width = std::max(column.width * charWidth + 10,
                           header.horizontalAdvance(column.label) + 16);
      if (model->ColumnType(c) == 'D') {
        width = std::max(width, grid->fontMetrics().horizontalAdvance("0000-00-00") + 10);
      }
      grid->setColumnWidth(c, width);
    }
    TFaxTableModel* m = model;
    QTableView* g = grid;
    connect(g->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this, m](const QModelIndex& current) {
              if (!syncing_ && current.isValid()) m->SetCurrentPosition(current.row());
            });
    connect(m, &TFaxTableModel::CurrentRowChanged, this, [this, g, m] {
      SyncGridToTable(g, m);
      if (m == faxModel_) {
        FaxDataSourceDataChange();
      } else {
        SetArchiveCaptions();
      }
    });
    connect(m, &QAbstractItemModel::modelReset, this, [this, g, m] { SyncGridToTable(g, m); });
  }

  if (OpenOutgoingTable(faxTable_)) {
    try {
      faxTable_.SetOrderByNumber(1);
      faxTable_.First();
    } catch (const ETvException&) {
    }
    faxModel_->Reload();
  } else {
    ShowInformation(this, "Unable to open/create the FAX datafile - closing program");
    PostCloseRequest();
  }
  if (!OpenRecFaxDBF()) {
    ShowInformation(this, "Unable to open/create the FAX RECEIVE datafile - closing program");
    PostCloseRequest();
    return;
  }
  recModel_->Reload();
  ApplyArchiveFilter();

  askPreferencesAtStart_ = false;
  LoadConfiguration();
  if (Configuration().ComPort == -1) {
    askPreferencesAtStart_ = true;
    Configuration().ComPort = 0;
  }
  faxInProgress_ = false;
  receiveModeActive_ = false;

  // CloneButton and ForwardButton share one spot: only one is visible.
  forwardButton_->hide();

  ForceFolder(SendFolder());
  ForceFolder(ReceiveFolder());

  mnuShowHint_->setChecked(Configuration().HintsOn);
  hintsShown_ = Configuration().HintsOn;
  ApplyHints();
  SetButtons();
}

void TMainScreen::FormActivate() {
  if (closeRequested_ || closing_) return;
  if (!firstActivation_) {
    // Printer-driver files handed over meanwhile are taken in here.
    SetButtons();
    return;
  }
  LoadWindowPlacement(this);
  show();
  raise();
  activateWindow();
  QApplication::processEvents();
  if (askPreferencesAtStart_) {
    mnuPreferencesClick();
    askPreferencesAtStart_ = false;
  }
  SetButtons();
  firstActivation_ = false;
}

void TMainScreen::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !firstActivation_) {
    FormActivate();
  }
}

void TMainScreen::PostCloseRequest() {
  closeRequested_ = true;
  QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
}

bool TMainScreen::MakeRecFaxDBF() { return CreateReceivedTable(); }
bool TMainScreen::OpenRecFaxDBF() { return OpenReceivedTable(recTable_); }

void TMainScreen::ApplyArchiveFilter() {
  for (XbaseTable* table : {&faxTable_, &recTable_}) {
    try {
      if (table->IsOpen()) table->SetFilterExpression(ArchiveFilter());
    } catch (const ETvException&) {
    }
  }
  faxModel_->Reload();
  recModel_->Reload();
}

void TMainScreen::FaxTableCloseAndOpen() {
  int record = 0;
  try {
    record = faxTable_.IsOpen() ? faxTable_.RecordNumber() : 0;
  } catch (const ETvException&) {
  }
  faxTable_.DisableNotifications();
  try {
    faxTable_.Close();
  } catch (const ETvException&) {
  }
  QApplication::processEvents();
  OpenOutgoingTable(faxTable_);
  try {
    faxTable_.SetFilterExpression(ArchiveFilter());
    faxTable_.GoToRecord(record);
  } catch (const ETvException&) {
    // A row that no longer passes the filter: the grid stays where the open left it.
  }
  faxTable_.EnableNotifications();
  faxModel_->Reload();
  SetButtons();
}

// ---- Enabling rules -------------------------------------------------------------

int TMainScreen::PageIndex() const { return noteBook_->currentIndex(); }

bool TMainScreen::IsEmpty(const TFaxTableModel* model) const { return model->IsEmpty(); }

void TMainScreen::SetButtons() {
  const bool outEmpty = IsEmpty(faxModel_);
  const bool inEmpty = IsEmpty(recModel_);
  const bool outgoing = PageIndex() == 0;
  auto faxCoverEmpty = [this] {
    try {
      return faxTable_.AsString("FAXCOVER").empty();
    } catch (const ETvException&) {
      return true;
    }
  };

  orderButton_->setEnabled(true);
  if (outgoing) {
    cloneButton_->setVisible(true);
    cloneButton_->setEnabled(!outEmpty);
    forwardButton_->setVisible(false);
    forwardButton_->setEnabled(false);
    sendButton_->setEnabled(!receiveModeActive_ && !outEmpty);
    newbutton_->setEnabled(true);
    editButton_->setEnabled(!outEmpty);
    deleteButton_->setEnabled(!outEmpty);
    buttonviewPrint_->setEnabled(!outEmpty);
    addCoverButton_->setEnabled(!receiveModeActive_ && !outEmpty && faxCoverEmpty());
  } else {
    cloneButton_->setVisible(false);
    cloneButton_->setEnabled(false);
    forwardButton_->setVisible(true);
    forwardButton_->setEnabled(!inEmpty);
    sendButton_->setEnabled(false);
    newbutton_->setEnabled(false);
    editButton_->setEnabled(!inEmpty);
    deleteButton_->setEnabled(!inEmpty);
    buttonviewPrint_->setEnabled(!inEmpty);
    addCoverButton_->setEnabled(false);
  }
  archivebutton_->setEnabled(deleteButton_->isEnabled());

  mnuForward_->setEnabled(forwardButton_->isEnabled());
  mnuNewCoverSheet_->setEnabled(newbutton_->isEnabled());
  mnuAddCoverSheet_->setEnabled(addCoverButton_->isEnabled());
  mnuViewPrint_->setEnabled(buttonviewPrint_->isEnabled());
  mnuDelete_->setEnabled(deleteButton_->isEnabled());
  mnuEdit_->setEnabled(editButton_->isEnabled());
  mnuArchive_->setEnabled(archivebutton_->isEnabled());
  mnuClone_->setEnabled(cloneButton_->isEnabled());
  mnuSend_->setEnabled(sendButton_->isEnabled());
  mnuRebuildIndexes_->setEnabled(!receiveModeActive_);
  mnuPreferences_->setEnabled(!receiveModeActive_);
  fileMenu_->setEnabled(!receiveModeActive_);
  fileMenu_->menuAction()->setEnabled(!receiveModeActive_);
  SetArchiveCaptions();

  // Repair the orders: an empty view runs in physical order, a filled one
  // without an order gets its date order and its first row.
  try {
    if (faxTable_.IsOpen()) {
      if (outEmpty && faxTable_.CurrentOrder() != 0) {
        faxTable_.SetOrderByNumber(0);
      } else if (!outEmpty && faxTable_.CurrentOrder() == 0) {
        mnuDateSent_->setChecked(true);
        mnuDateSentClick();
        faxTable_.First();
      }
    }
  } catch (const ETvException&) {
  }
  try {
    if (recTable_.IsOpen()) {
      if (inEmpty && recTable_.CurrentOrder() != 0) {
        recTable_.SetOrderByNumber(0);
      } else if (!inEmpty && recTable_.CurrentOrder() == 0) {
        recTable_.SetOrderByNumber(recTable_.OrderNumberOf("DATETIME"));
        recTable_.First();
      }
    }
  } catch (const ETvException&) {
  }
  faxGrid_->setEnabled(!outEmpty);
  recFaxGrid_->setEnabled(!inEmpty);
}

void TMainScreen::SetArchiveCaptions() {
  bool archived = false;
  XbaseTable& table = PageIndex() == 0 ? faxTable_ : recTable_;
  TFaxTableModel* model = PageIndex() == 0 ? faxModel_ : recModel_;
  try {
    archived = !model->IsEmpty() && table.AsBoolean("ARCHIVED");
  } catch (const ETvException&) {
  }
  if (archived) {
    archivebutton_->setText("Un&Archive");
    archivebutton_->setToolTip(HintText(kUnarchiveHint));
  } else {
    archivebutton_->setText("&Archive");
    archivebutton_->setToolTip(HintText(kArchiveHint));
  }
  mnuArchive_->setText(archivebutton_->text());
}

void TMainScreen::FaxDataSourceDataChange() {
  SetArchiveCaptions();
  if (firstActivation_) return;
  bool enable = false;
  try {
    enable = !faxModel_->IsEmpty() && faxTable_.AsString("FAXCOVER").empty();
  } catch (const ETvException&) {
  }
  addCoverButton_->setEnabled(enable);
  mnuAddCoverSheet_->setEnabled(enable);
}

void TMainScreen::SyncGridToTable(QTableView* grid, TFaxTableModel* model) {
  if (syncing_) return;
  syncing_ = true;
  const int position = model->CurrentPosition();
  if (position >= 0 && position < model->rowCount()) {
    const QModelIndex index = model->index(position, 0);
    grid->selectionModel()->setCurrentIndex(
        index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    grid->scrollTo(index);
  } else {
    grid->selectionModel()->clear();
  }
  syncing_ = false;
}

void TMainScreen::TabSet1Click() {
  const int tab = tabSet1_->currentIndex();
  noteBook_->setCurrentIndex(tab);
  SetButtons();
  orderButton_->setMenu(CurrentSortMenu());
}

QMenu* TMainScreen::CurrentSortMenu() const {
  return PageIndex() == 0 ? faxSortMenu_ : recSortMenu_;
}

void TMainScreen::SetReceiveModeActive(bool active) {
  receiveModeActive_ = active;
  receiveButton_->setText(active ? "STOP" : "&Receive");
  mnuReceive_->setText(active ? "Stop Receiving Faxes" : "&Receive Fax");
  SetButtons();
}

// ---- Keys and hints ---------------------------------------------------------------

bool TMainScreen::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip && !hintsShown_) return true;  // hints off
  if (event->type() == QEvent::KeyPress) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget && widget->window() == this && QApplication::activePopupWidget() == nullptr) {
      auto* key = static_cast<QKeyEvent*>(event);
      const auto mods = key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier |
                                            Qt::AltModifier | Qt::MetaModifier);
      if (key->key() == Qt::Key_Tab && mods == Qt::ControlModifier) {
        tabSet1_->setCurrentIndex(tabSet1_->currentIndex() == 0 ? 1 : 0);
        return true;
      }
      // Enter clicks the default button (Archive) unless the focused
      // control takes Enter itself.
      if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && mods == 0 &&
          archivebutton_->isEnabled() && !qobject_cast<QAbstractButton*>(widget) &&
          !widget->inherits("QLineEdit") && !widget->inherits("QAbstractSpinBox") &&
          !widget->inherits("QTextEdit") && !widget->inherits("QPlainTextEdit")) {
        archivebutton_->click();
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TMainScreen::ApplyHints() {
  static THintDelayStyle* style = nullptr;
  if (!style) {
    style = new THintDelayStyle();
    qApp->setStyle(style);
  }
  for (QMenu* menu : {fileMenu_, helpMenu_}) menu->setToolTipsVisible(hintsShown_);
}

void TMainScreen::mnuShowHintClick() {
  // The item's tick has already flipped when it was clicked.
  hintsShown_ = mnuShowHint_->isChecked();
  Configuration().HintsOn = hintsShown_;
  try {
    SaveConfiguration();
  } catch (const ETvException& e) {
    ShowInformation(this, QString::fromStdString(e.what()));
  }
  ApplyHints();
}

// ---- Commands of this window ------------------------------------------------------

void TMainScreen::mnuShowArchivesClick() {
  ArchiveFilter() = mnuShowArchives_->isChecked() ? "" : kHideArchivedFilter;
  ApplyArchiveFilter();
  SetButtons();
}

void TMainScreen::SelectSortOrder(bool incoming, const char* tag, QAction* item) {
  XbaseTable& table = incoming ? recTable_ : faxTable_;
  QMenu* menu = incoming ? recSortMenu_ : faxSortMenu_;
  if (incoming && faxInProgress_) {
    // Not while a fax arrives: the tick goes back to the order in use.
    QApplication::beep();
    for (QAction* other : menu->actions()) {
      const char* shown = other == mnuSortFrom_ ? "FROM" : "DATETIME";
      if (table.IsOpen() && table.CurrentOrder() == table.OrderNumberOf(shown)) {
        other->setChecked(true);
      }
    }
    return;
  }
  try {
    table.SetOrderByNumber(table.OrderNumberOf(tag));
  } catch (const ETvException&) {
  }
  item->setChecked(true);
}

void TMainScreen::mnuDateSentClick() { SelectSortOrder(false, "DATESENT", mnuDateSent_); }
void TMainScreen::mnuSubjectClick() { SelectSortOrder(false, "SUBJECT", mnuSubject_); }
void TMainScreen::mnuRecipientClick() { SelectSortOrder(false, "RECIPIENT", mnuRecipient_); }
void TMainScreen::mnuSortDateReceivedClick() {
  SelectSortOrder(true, "DATETIME", mnuSortDateReceived_);
}
void TMainScreen::mnuSortFromClick() { SelectSortOrder(true, "FROM", mnuSortFrom_); }

void TMainScreen::Contents1Click() { ShowHelpTopic(1009, this); }
void TMainScreen::TroubleshootingTips1Click() { ShowHelpTopic(1032, this); }

void TMainScreen::About1Click() {
  TAboutBox box(this);
  CenterDialog(&box);
  box.exec();
}

void TMainScreen::Exit1Click() { close(); }
void TMainScreen::ExitbuttonClick() { close(); }
void TMainScreen::CloseButtonClick() { close(); }

void TMainScreen::mnuRebuildIndexesClick() {
  faxTable_.DisableNotifications();
  recTable_.DisableNotifications();
  faxGrid_->setUpdatesEnabled(false);
  {
    TRebuildInd dialog(faxTable_, recTable_, this);
    CenterDialog(&dialog);
    dialog.exec();
  }
  ApplyArchiveFilter();
  recTable_.EnableNotifications();
  faxTable_.EnableNotifications();
  faxGrid_->setUpdatesEnabled(true);
  faxModel_->Reload();
  recModel_->Reload();
  SetButtons();
}

// Commands whose work belongs to the list operations, cover sheets, receive
// mode, the send dialog, the phone book, the preferences and the modem
// dialogs: their buttons and items follow the enabling rules above, and the
// handlers are filled in where those are built.
void TMainScreen::mnuPreferencesClick() {}
void TMainScreen::mnuPhoneBookClick() {}
void TMainScreen::ResetModem1Click() {}
void TMainScreen::NewbuttonClick() {}
void TMainScreen::AddCoverButtonClick() {}
void TMainScreen::EditButtonClick() {}
void TMainScreen::CloneButtonClick() {}
void TMainScreen::ForwardButtonClick() {}
void TMainScreen::DeleteButtonClick() {}
void TMainScreen::ArchivebuttonClick() {}
void TMainScreen::SendButtonClick() {}
void TMainScreen::ReceiveButtonClick() {}
void TMainScreen::mnuViewPrintClick() {}

// ---- Closing --------------------------------------------------------------------------

bool TMainScreen::FormCloseQuery() {
  if (faxInProgress_ &&
      !AskYesNo(this, "ALERT!", "You are recieving a fax. Close the program?", true)) {
    return false;
  }
  if (receiveModeActive_) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QApplication::processEvents();
    receiveModeActive_ = false;
    faxInProgress_ = false;
    QApplication::restoreOverrideCursor();
    receiveButton_->setText("Receive");
    receiveButton_->setToolTip("Start receiving faxes");
  }
  QApplication::processEvents();
  for (XbaseTable* table : {&faxTable_, &recTable_}) {
    try {
      if (table->IsOpen()) table->Close();
    } catch (const ETvException&) {
    }
  }
  faxModel_->Reload();
  recModel_->Reload();
  QApplication::processEvents();
  return true;
}

void TMainScreen::FormClose() {
  // The placement is kept only for a window that was shown.
  if (!firstActivation_) SaveWindowPlacement(this);
  SetButtons();
}

void TMainScreen::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  closing_ = true;
  FormClose();
  event->accept();
  emit Closed();
}

}  // namespace tv
