#include "app/frmUsersOverview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "analysis/Activity.h"
#include "analysis/LiveUserFigures.h"
#include "analysis/Report.h"
#include "analysis/UserFigures.h"
#include "app/ActivityChart.h"
#include "app/AppIdentity.h"
#include "app/Controls.h"
#include "app/DateText.h"
#include "app/FileFiguresModel.h"
#include "app/Interaction.h"
#include "app/LogDocument.h"
#include "app/UserFiguresModel.h"
#include "logs/LargeMemory.h"
#include "logs/UserList.h"

namespace quorvane {

namespace {

constexpr int kFilesRowPadding = 4;

// Writes the whole text; false when the file took less of it.
bool WriteAll(QIODevice& file, const std::string& text) {
  return file.write(text.data(), static_cast<qint64>(text.size())) ==
         static_cast<qint64>(text.size());
}

const QString kMinDownloadsKey = QStringLiteral("UsersOverview/LeechMinDownloads");
const QString kMinRatioKey = QStringLiteral("UsersOverview/LeechMinRatio");

QLabel* NewCaption(QWidget* parent, const char* name, const QString& text, QWidget* buddy) {
  auto* label = Named(new QLabel(text, parent), name);
  label->setBuddy(buddy);
  return label;
}

QDateEdit* NewDateField(QWidget* parent, const char* name) {
  auto* field = Named(new QDateEdit(parent), name);
  field->setCalendarPopup(true);
  field->setDisplayFormat(ShortDateFormat());
  return field;
}

}  // namespace

frmUsersOverview::frmUsersOverview(LogDocument& document, Interaction& ui, QWidget& owner)
    : QWidget(&owner, Qt::Window),
      document_(document),
      ui_(ui),
      model_(new UserFiguresModel(this)),
      filesModel_(new FileFiguresModel(this)),
      refreshDue_(new QTimer(this)) {
  setObjectName(QStringLiteral("frmUsersOverview"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Users Overview"));
  setWindowIcon(AppIcon());
  setFont(FontOf(kDialogFamilies, 8));
  CreateControls();
  SetTabOrder();
  LoadSettings();
  // Wide enough for every column and a name column of 120 pixels, within the screen.
  QHeaderView* header = lvwUsers->horizontalHeader();
  resize(std::min(WidthOnScreen(*this),
                  std::max(640, header->length() - header->sectionSize(UserFiguresModel::User) +
                                    Px(1800) + Px(900))),
         480);

  connect(chkAllTime, &QCheckBox::toggled, this, [this](bool allTime) {
    for (QWidget* control : std::initializer_list<QWidget*>{lblFrom, dtpFrom, lblTo, dtpTo})
      control->setEnabled(!allTime);
    Refresh();
  });
  connect(dtpFrom, &QDateEdit::dateChanged, this, &frmUsersOverview::Refresh);
  connect(dtpTo, &QDateEdit::dateChanged, this, &frmUsersOverview::Refresh);
  connect(cboDates, &QComboBox::currentIndexChanged, this, &frmUsersOverview::cboDates_Click);
  connect(txtFind, &QLineEdit::textChanged, this, &frmUsersOverview::ApplyFilter);
  connect(chkLeeches, &QCheckBox::toggled, this, &frmUsersOverview::ApplyFilter);
  connect(spnMinDownloads, &QSpinBox::valueChanged, this, [this](int value) {
    QSettings().setValue(kMinDownloadsKey, value);
    ApplyFilter();
  });
  connect(spnMinRatio, &QDoubleSpinBox::valueChanged, this, [this](double value) {
    QSettings().setValue(kMinRatioKey, value);
    ApplyFilter();
  });
  connect(cboSortBy, &QComboBox::currentIndexChanged, this, &frmUsersOverview::SortFromControls);
  connect(chkDescending, &QCheckBox::toggled, this, &frmUsersOverview::SortFromControls);
  connect(lvwUsers->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
          &frmUsersOverview::SortIndicator_Changed);
  connect(lvwUsers, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { ShowUserInMain(index.row()); });
  connect(lvwUsers->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &frmUsersOverview::ChartChanged);
  connect(tabViews, &QTabWidget::currentChanged, this, [this] {
    if (chartStale_)
      ChartChanged();
    if (tabViews->currentWidget() == pgFiles) {
      if (filesStale_)
        ShowFiles();
    } else if (filesModel_->FileCount() != 0) {
      // Half a million files take tens of megabytes: none are kept for a page not shown, nor
      // the scratch their count keeps for a next one.
      filesModel_->SetFiles({});
      FreshRowHeader(lvwFiles, kFilesRowPadding);
      filesStale_ = true;
      ReleaseIdleMemory(0);
    }
    UpdateStatus();
  });
  connect(txtFindFiles, &QLineEdit::textChanged, this, [this](const QString& text) {
    filesModel_->SetFind(text.toStdString());
    UpdateStatus();
  });
  connect(lvwFiles, &QTableView::doubleClicked, this,
          [this](const QModelIndex& index) { ShowUploaderInMain(index.row()); });
  connect(cmdExportHtml, &QPushButton::clicked, this, &frmUsersOverview::cmdExportHtml_Click);
  connect(cmdSaveChart, &QPushButton::clicked, this, &frmUsersOverview::cmdSaveChart_Click);
  connect(cmdExport, &QPushButton::clicked, this, &frmUsersOverview::cmdExport_Click);
  connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
  connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, &QWidget::close);
  refreshDue_->setSingleShot(true);
  connect(refreshDue_, &QTimer::timeout, this, &frmUsersOverview::Refresh);
  // What the logs span is known again only once the figures are.
  const auto whole = [this] {
    logDays_.reset();
    everyone_.reset();
    refreshDue_->start();
  };
  const auto part = [this] {
    logDays_.reset();
    refreshDue_->start();
  };
  connect(&document_, &LogDocument::Replaced, this, whole);
  connect(&document_, &LogDocument::DatesRead, this, whole);
  // Counted when the logs are read in another order or replaced, not as rows arrive.
  connect(&document_, &LogDocument::Replaced, this, &frmUsersOverview::ShowDatesUnread);
  connect(&document_, &LogDocument::DatesRead, this, &frmUsersOverview::ShowDatesUnread);
  connect(&document_, &LogDocument::RowsArrived, this, [this, part](LogKind kind, int first) {
    // A row read again whole, among those counted, is counted anew.
    if (everyone_ &&
        static_cast<std::size_t>(first) < everyone_->RowsTaken(kind == LogKind::Upload))
      everyone_.reset();
    part();
  });
  connect(&document_, &LogDocument::RowRemoved, this, [this, part] {
    everyone_.reset();
    part();
  });
  connect(&document_, &LogDocument::NamesMerged, this, [this, part](QString from, QString to) {
    // Over all time a rename changes two users' rows and nothing else: not what the logs span,
    // nor everyone's chart.
    const LiveUserFigures* live = document_.LiveUsers();
    const std::optional<UserFigures> figures =
        live != nullptr ? live->Find(to.toStdString()) : std::nullopt;
    if (refreshDue_->isActive() || periodRefused_ || !period_.AllTime() || !figures) {
      part();
      return;
    }
    const std::vector<std::string> selected = SelectedUsers();
    model_->RenameUser(from.toStdString(), *figures);
    if (lvwUsers->currentIndex().isValid())
      lvwUsers->scrollTo(lvwUsers->currentIndex());
    const std::string names[] = {from.toStdString(), to.toStdString()};
    if (std::find_first_of(selected.begin(), selected.end(), names, names + 2) != selected.end())
      ChartChanged();
    filesStale_ = true;  // the first uploaders' names
    if (tabViews->currentWidget() == pgFiles)
      ShowFiles();
    UpdateStatus();
  });

  ShowDatesUnread();
  ApplyFilter();
  Refresh();
  txtFind->setFocus();
}

void frmUsersOverview::CreateControls() {
  chkAllTime = Named(new QCheckBox(tr("&All time"), this), "chkAllTime");
  chkAllTime->setChecked(true);
  dtpFrom = NewDateField(this, "dtpFrom");
  lblFrom = NewCaption(this, "lblFrom", tr("Fro&m:"), dtpFrom);
  dtpTo = NewDateField(this, "dtpTo");
  lblTo = NewCaption(this, "lblTo", tr("T&o:"), dtpTo);
  for (QWidget* control : std::initializer_list<QWidget*>{lblFrom, dtpFrom, lblTo, dtpTo})
    control->setEnabled(false);
  cboDates = Named(new QComboBox(this), "cboDates");
  cboDates->addItems({tr("As each log shows"), tr("Month first (3/4 = March 4)"),
                      tr("Day first (3/4 = 3 April)")});
  cboDates->setCurrentIndex(static_cast<int>(document_.ReadingDateOrder()));
  cboDates->setToolTip(
      tr("How to read dates such as 3/4/2026: as each log shows by its other "
         "dates, or always month first or day first"));
  lblDates = NewCaption(this, "lblDates", tr("Da&tes:"), cboDates);
  lblDatesUnread = Named(new QLabel(this), "lblDatesUnread");
  lblDatesUnread->setTextFormat(Qt::PlainText);

  tabViews = Named(new QTabWidget(this), "tabViews");
  // Tab stops at the tab bar, once (see SetTabOrder); the tab widget passes its policy on.
  tabViews->setFocusPolicy(Qt::NoFocus);
  tabViews->tabBar()->setFocusPolicy(Qt::TabFocus);
  tabViews->addTab(CreateUsersPage(), tr("&Users"));
  pgActivity = CreateActivityPage();
  tabViews->addTab(pgActivity, tr("Acti&vity"));
  pgFiles = CreateFilesPage();
  tabViews->addTab(pgFiles, tr("F&iles"));

  lblStatus = Named(new QLabel(this), "lblStatus");
  lblStatus->setTextFormat(Qt::PlainText);
  lblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  cmdExport = Button(this, "cmdExport", tr("&Export..."), false);
  cmdExport->setToolTip(tr("Writes the table of the page shown as CSV"));
  cmdExportHtml = Button(this, "cmdExportHtml", tr("Export &HTML..."), false);
  cmdExportHtml->setToolTip(tr("Writes a web page of the figures, the chart and both tables"));
  cmdClose = Button(this, "cmdClose", tr("&Close"), false);
  for (QPushButton* button : {cmdExport, cmdExportHtml, cmdClose})
    button->setMinimumSize(TwipsSize(1335, 375));

  // The period and the way dates read apply to both pages, so they stand above them.
  auto* periodRow = new QHBoxLayout;
  periodRow->addWidget(chkAllTime);
  periodRow->addSpacing(Px(120));
  periodRow->addWidget(lblFrom);
  periodRow->addWidget(dtpFrom);
  periodRow->addSpacing(Px(120));
  periodRow->addWidget(lblTo);
  periodRow->addWidget(dtpTo);
  periodRow->addStretch();
  periodRow->addWidget(lblDatesUnread);
  periodRow->addSpacing(Px(240));
  periodRow->addWidget(lblDates);
  periodRow->addWidget(cboDates);
  auto* bottomRow = new QHBoxLayout;
  bottomRow->addWidget(lblStatus, 1);
  bottomRow->addWidget(cmdExport);
  bottomRow->addWidget(cmdExportHtml);
  bottomRow->addWidget(cmdClose);

  auto* layout = OuterColumn(this, 120, 90);
  layout->addLayout(periodRow);
  layout->addWidget(tabViews, 1);
  layout->addLayout(bottomRow);
}

// The table with the rows that narrow and sort it above.
QWidget* frmUsersOverview::CreateUsersPage() {
  auto* page = Named(new QWidget(this), "pgUsers");
  txtFind = Named(new QLineEdit(page), "txtFind");
  txtFind->setClearButtonEnabled(true);
  lblFind = NewCaption(page, "lblFind", tr("&Find:"), txtFind);
  cboSortBy = Named(new QComboBox(page), "cboSortBy");
  for (int column = 0; column < UserFiguresModel::ColumnCount; ++column)
    cboSortBy->addItem(model_->headerData(column, Qt::Horizontal).toString());
  lblSortBy = NewCaption(page, "lblSortBy", tr("&Sort by:"), cboSortBy);
  chkDescending = Named(new QCheckBox(tr("&Descending"), page), "chkDescending");

  chkLeeches = Named(new QCheckBox(tr("&Leeches only:"), page), "chkLeeches");
  spnMinDownloads = Named(new QSpinBox(page), "spnMinDownloads");
  spnMinDownloads->setRange(0, 999999999);
  spnMinDownloads->setAccessibleName(tr("Leeches: downloads at least"));
  lblMinDownloads = NewCaption(page, "lblMinDownloads", tr("do&wnloads at least"), spnMinDownloads);
  spnMinRatio = Named(new QDoubleSpinBox(page), "spnMinRatio");
  spnMinRatio->setDecimals(2);
  spnMinRatio->setRange(0, 999999.99);
  spnMinRatio->setAccessibleName(tr("Leeches: downloads per upload at least"));
  lblMinRatio = NewCaption(page, "lblMinRatio", tr("and &ratio at least"), spnMinRatio);

  lvwUsers = Named(new QTableView(page), "lvwUsers");
  lvwUsers->setModel(model_);
  lvwUsers->setAccessibleName(tr("Users"));
  // Several users selected: the chart shows their transfers together.
  DressAsList(lvwUsers, QAbstractItemView::ExtendedSelection, 4);
  lvwUsers->setAlternatingRowColors(true);
  lvwUsers->installEventFilter(this);
  lvwUsers->viewport()->installEventFilter(this);
  QHeaderView* header = lvwUsers->horizontalHeader();
  header->setSortIndicator(UserFiguresModel::User, Qt::AscendingOrder);
  lvwUsers->setSortingEnabled(true);
  // The names take the room the figures leave (FitNameColumn).
  FitFigureColumns(lvwUsers, UserFiguresModel::Downloads, UserFiguresModel::FirstSeen,
                   UserFiguresModel::ColumnCount);

  auto* findRow = new QHBoxLayout;
  findRow->addWidget(lblFind);
  findRow->addWidget(txtFind, 1);
  findRow->addSpacing(Px(240));
  findRow->addWidget(lblSortBy);
  findRow->addWidget(cboSortBy);
  findRow->addWidget(chkDescending);
  auto* leechRow = new QHBoxLayout;
  leechRow->addWidget(chkLeeches);
  leechRow->addWidget(lblMinDownloads);
  leechRow->addWidget(spnMinDownloads);
  leechRow->addSpacing(Px(120));
  leechRow->addWidget(lblMinRatio);
  leechRow->addWidget(spnMinRatio);
  leechRow->addStretch();
  auto* layout = OuterColumn(page, 90, 90);
  layout->addLayout(findRow);
  layout->addLayout(leechRow);
  layout->addWidget(lvwUsers, 1);
  return page;
}

// The chart under a line saying what it shows.
QWidget* frmUsersOverview::CreateActivityPage() {
  auto* page = Named(new QWidget(this), "pgActivity");
  chtActivity = Named(new ActivityChart(page), "chtActivity");
  lblActivity = Named(new QLabel(page), "lblActivity");
  lblActivity->setTextFormat(Qt::PlainText);
  lblActivity->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  cmdSaveChart = Button(page, "cmdSaveChart", tr("Save Chart Ima&ge..."), false);
  cmdSaveChart->setMinimumSize(TwipsSize(1335, 375));
  auto* captionRow = new QHBoxLayout;
  captionRow->addWidget(lblActivity, 1);
  captionRow->addWidget(cmdSaveChart);
  auto* layout = OuterColumn(page, 90, 60);
  layout->addLayout(captionRow);
  layout->addWidget(chtActivity, 1);
  return page;
}

// What is fetched: the files table with a Find of its own; a double-click shows the uploader.
QWidget* frmUsersOverview::CreateFilesPage() {
  auto* page = Named(new QWidget(this), "pgFiles");
  txtFindFiles = Named(new QLineEdit(page), "txtFindFiles");
  txtFindFiles->setClearButtonEnabled(true);
  lblFindFiles = NewCaption(page, "lblFindFiles", tr("Fi&nd:"), txtFindFiles);
  lvwFiles = Named(new QTableView(page), "lvwFiles");
  lvwFiles->setModel(filesModel_);
  lvwFiles->setAccessibleName(tr("Files"));
  lvwFiles->installEventFilter(this);
  DressAsList(lvwFiles, QAbstractItemView::SingleSelection, kFilesRowPadding);
  lvwFiles->setAlternatingRowColors(true);
  lvwFiles->horizontalHeader()->setSortIndicator(FileFiguresModel::Downloads, Qt::DescendingOrder);
  lvwFiles->setSortingEnabled(true);
  lvwFiles->horizontalHeader()->setSectionResizeMode(FileFiguresModel::File, QHeaderView::Stretch);
  lvwFiles->setTextElideMode(Qt::ElideMiddle);  // a path's end names the file
  FitFigureColumns(lvwFiles, FileFiguresModel::Downloads, FileFiguresModel::FirstUploader,
                   FileFiguresModel::Uploads + 1);
  FitFigureColumns(lvwFiles, FileFiguresModel::FirstDownload, FileFiguresModel::FirstDownload,
                   FileFiguresModel::ColumnCount);
  lvwFiles->horizontalHeader()->resizeSection(FileFiguresModel::FirstUploader, Px(1800));
  auto* findRow = new QHBoxLayout;
  findRow->addWidget(lblFindFiles);
  findRow->addWidget(txtFindFiles, 1);
  auto* layout = OuterColumn(page, 90, 90);
  layout->addLayout(findRow);
  layout->addWidget(lvwFiles, 1);
  return page;
}

void frmUsersOverview::SetTabOrder() {
  // The tab bar, not the tab widget: the pages' controls are the tab widget's children, and
  // ordering a widget behind one that contains it takes it out of the window's focus chain.
  const std::vector<QWidget*> order = {
      chkAllTime,  dtpFrom,   dtpTo,         cboDates,    tabViews->tabBar(),
      txtFind,     cboSortBy, chkDescending, chkLeeches,  spnMinDownloads,
      spnMinRatio, lvwUsers,  cmdSaveChart,  chtActivity, txtFindFiles,
      lvwFiles,    cmdExport, cmdExportHtml, cmdClose};
  for (std::size_t i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void frmUsersOverview::LoadSettings() {
  const QSettings settings;
  spnMinDownloads->setValue(
      settings.value(kMinDownloadsKey, static_cast<int>(LeechRule().minDownloads)).toInt());
  spnMinRatio->setValue(
      settings.value(kMinRatioKey, LeechRule().minRatioHundredths / 100.0).toDouble());
}

std::optional<Period> frmUsersOverview::ChosenPeriod() const {
  if (chkAllTime->isChecked())
    return Period{};
  const std::int64_t first = DayNumber(dtpFrom->date());
  const std::int64_t last = DayNumber(dtpTo->date());
  if (first > last)
    return std::nullopt;
  return Period{first, last};
}

void frmUsersOverview::ShowLogDays(const std::optional<Period>& days) {
  const QSignalBlocker blockFrom(dtpFrom);
  const QSignalBlocker blockTo(dtpTo);
  dtpFrom->setDate(days ? ToQDate(*days->firstDay) : QDate::currentDate());
  dtpTo->setDate(days ? ToQDate(*days->lastDay) : QDate::currentDate());
}

void frmUsersOverview::Refresh() {
  refreshDue_->stop();
  const std::optional<Period> period = ChosenPeriod();
  periodRefused_ = !period;
  if (!period) {
    UpdateStatus();
    return;
  }
  period_ = *period;
  const std::optional<std::string> chosen = CurrentUser();
  const std::vector<std::string> selected = SelectedUsers();
  const LogTable& downloads = document_.Table(LogKind::Download);
  const LogTable& uploads = document_.Table(LogKind::Upload);
  if (period_.AllTime()) {
    // The document's kept figures once it has them (opening costs a few milliseconds, a change
    // what it touched); until then, as after a load or new dates, every figure is counted on two
    // threads.
    const LiveUserFigures* live = document_.LiveUsers();
    std::vector<UserFigures> users =
        live != nullptr
            ? live->Figures()
            : ComputeUserFigures(downloads, uploads, CollectEveryUserName(downloads, uploads));
    // Every dated row is some user's: the first and last seen of all of them span the logs.
    std::optional<Period> days;
    for (const UserFigures& user : users) {
      if (user.firstSeen == kUndated)
        continue;
      if (!days)
        days = Period{DayOf(user.firstSeen), DayOf(user.lastSeen)};
      days->firstDay = std::min(*days->firstDay, DayOf(user.firstSeen));
      days->lastDay = std::max(*days->lastDay, DayOf(user.lastSeen));
    }
    logDays_ = days;
    ShowLogDays(days);
    model_->SetUsers(std::move(users));
    undatedLeftOut_ = 0;
  } else {
    // As the report command computes a period's figures, so that both export the same.
    const PeriodLogs inPeriod = SelectPeriod(downloads, uploads, period_);
    model_->SetUsers(
        ComputeUserFigures(inPeriod.logs.downloads, inPeriod.logs.uploads,
                           CollectEveryUserName(inPeriod.logs.downloads, inPeriod.logs.uploads)));
    undatedLeftOut_ = inPeriod.undatedLeftOut;
  }
  SelectUsers(selected, chosen);
  filesStale_ = true;
  if (tabViews->currentWidget() == pgFiles)
    ShowFiles();
  UpdateStatus();
}

void frmUsersOverview::ShowFiles() {
  filesStale_ = false;
  const LogTable& downloads = document_.Table(LogKind::Download);
  const LogTable& uploads = document_.Table(LogKind::Upload);
  if (period_.AllTime()) {
    filesModel_->SetFiles(ComputeFileFigures(downloads, uploads));
  } else {
    const PeriodLogs inPeriod = SelectPeriod(downloads, uploads, period_);
    filesModel_->SetFiles(ComputeFileFigures(inPeriod.logs.downloads, inPeriod.logs.uploads));
  }
}

void frmUsersOverview::ShowUploaderInMain(int row) {
  if (row >= 0 && row < filesModel_->rowCount() && !filesModel_->FileAt(row).firstUploader.empty())
    emit ShowUserRequested(
        QString::fromStdString(std::string(filesModel_->FileAt(row).firstUploader)));
}

void frmUsersOverview::ApplyFilter() {
  const std::optional<std::string> chosen = CurrentUser();
  const std::vector<std::string> selected = SelectedUsers();
  UserFiguresModel::Filter filter;
  filter.part = txtFind->text().toStdString();
  filter.leechesOnly = chkLeeches->isChecked();
  filter.leeches.minDownloads = static_cast<std::size_t>(spnMinDownloads->value());
  filter.leeches.minRatioHundredths =
      static_cast<std::uint64_t>(std::llround(spnMinRatio->value() * 100));
  model_->SetFilter(std::move(filter));
  SelectUsers(selected, chosen);
  UpdateStatus();
}

void frmUsersOverview::SortFromControls() {
  lvwUsers->sortByColumn(cboSortBy->currentIndex(),
                         chkDescending->isChecked() ? Qt::DescendingOrder : Qt::AscendingOrder);
}

// A click on a column header sorts; the sort controls follow it.
void frmUsersOverview::SortIndicator_Changed(int column, Qt::SortOrder order) {
  const QSignalBlocker blockSortBy(cboSortBy);
  const QSignalBlocker blockDescending(chkDescending);
  cboSortBy->setCurrentIndex(column);
  chkDescending->setChecked(order == Qt::DescendingOrder);
}

bool frmUsersOverview::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lvwUsers->viewport() && event->type() == QEvent::Resize)
    FitNameColumn();
  // Enter on a row does what a double-click does, so the keyboard reaches every user.
  const auto* list = qobject_cast<QTableView*>(watched);
  if ((list == lvwUsers || list == lvwFiles) && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && list->currentIndex().isValid()) {
      if (list == lvwUsers)
        ShowUserInMain(list->currentIndex().row());
      else
        ShowUploaderInMain(list->currentIndex().row());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// Columns `first` to before `end` as wide as their caption with the sort arrow and as the widest
// figure: a count of seven digits as the locale writes it before `dates`, the widest date and time
// of a year from there on. No figure is ever cut.
void frmUsersOverview::FitFigureColumns(QTableView* view, int first, int dates, int end) {
  QHeaderView* header = view->horizontalHeader();
  const QFontMetrics cells = view->fontMetrics();
  int dateWidth = 0;
  for (int month = 1; month <= 12; ++month) {
    dateWidth = std::max(
        dateWidth, cells.horizontalAdvance(ShortDateTime(FromCivil(2026, month, 28, 23, 59, 59))));
  }
  const int countWidth = cells.horizontalAdvance(QLocale().toString(9999999));
  for (int column = first; column < end; ++column) {
    const QString caption = view->model()->headerData(column, Qt::Horizontal).toString();
    const int figure = (column >= dates ? dateWidth : countWidth) + Px(120);
    header->resizeSection(
        column, std::max(header->fontMetrics().horizontalAdvance(caption) + Px(480), figure));
  }
}

// The names take the room the figures leave, but never less than 120 pixels: in a narrower window
// the table scrolls sideways instead.
void frmUsersOverview::FitNameColumn() {
  QHeaderView* header = lvwUsers->horizontalHeader();
  const int figures = header->length() - header->sectionSize(UserFiguresModel::User);
  const bool room = lvwUsers->viewport()->width() - figures >= Px(1800);
  header->setSectionResizeMode(UserFiguresModel::User,
                               room ? QHeaderView::Stretch : QHeaderView::Interactive);
  if (!room)
    header->resizeSection(UserFiguresModel::User, Px(1800));
}

void frmUsersOverview::ShowUserInMain(int row) {
  if (row >= 0 && row < model_->rowCount())
    emit ShowUserRequested(QString::fromStdString(model_->UserAt(row).name));
}

// Kept for the next run; the document reads its logs' dates again and the figures follow.
void frmUsersOverview::cboDates_Click() {
  const auto order = static_cast<DateOrder>(cboDates->currentIndex());
  RememberDateOrder(order);
  ui_.SetBusy(true);
  document_.SetDateOrder(order);
  ui_.SetBusy(false);
  Refresh();
}

// The figures are those of the order set; beside it, how many rows it leaves undated that the
// other order would date.
void frmUsersOverview::ShowDatesUnread() {
  const auto order = static_cast<DateOrder>(cboDates->currentIndex());
  const std::size_t unread = document_.Table(LogKind::Download).DatesOnlyInOtherOrder(order) +
                             document_.Table(LogKind::Upload).DatesOnlyInOtherOrder(order);
  const QString way = order == DateOrder::MonthFirst ? tr("month first") : tr("day first");
  lblDatesUnread->setText(
      unread == 1
          ? tr("1 dated row does not read %1").arg(way)
          : tr("%1 dated rows do not read %2").arg(QLocale().toString(qulonglong{unread}), way));
  lblDatesUnread->setVisible(unread != 0);
}

void frmUsersOverview::cmdExport_Click() {
  // A narrowed table is said to be one before it is written, lest it pass for the whole.
  const bool files = tabViews->currentWidget() == pgFiles;
  if (files && filesStale_)
    ShowFiles();
  const int shown = files ? filesModel_->rowCount() : model_->rowCount();
  const std::size_t all = files ? filesModel_->FileCount() : model_->UserCount();
  if (static_cast<std::size_t>(shown) < all &&
      !ui_.AskYesNo(tr("Export"), (files ? tr("Export the %1 files shown of %2?")
                                         : tr("Export the %1 users shown of %2?"))
                                      .arg(shown)
                                      .arg(all)))
    return;
  if (files) {
    const std::optional<QString> chosen =
        ui_.ChooseSaveFile(tr("Export Files"), tr("Files.csv"), tr("CSV files (*.csv)"));
    if (!chosen)
      return;
    SaveFile(tr("Export"), *chosen, tr("The files table could not be saved to %1."),
             [this](QIODevice& file) {
               if (filesStale_)
                 ShowFiles();
               return WriteAll(file, FormatCsvFiles(filesModel_->ShownFiles()));
             });
    return;
  }
  const std::optional<QString> chosen = ui_.ChooseSaveFile(
      tr("Export Users Overview"), tr("Users Overview.csv"), tr("CSV files (*.csv)"));
  if (!chosen)
    return;
  SaveFile(
      tr("Export"), *chosen, tr("The users overview could not be saved to %1."),
      [this](QIODevice& file) { return WriteAll(file, FormatCsvUsers(model_->ShownUsers())); });
}

// The page the report command writes for the same tables and period, byte for byte.
void frmUsersOverview::cmdExportHtml_Click() {
  const std::optional<QString> chosen = ui_.ChooseSaveFile(
      tr("Export HTML Report"), tr("Transfers.html"), tr("HTML pages (*.html *.htm)"));
  if (!chosen)
    return;
  SaveFile(tr("Export HTML"), *chosen, tr("The page could not be saved to %1."),
           [this](QIODevice& file) {
             ReportRequest request;
             request.format = ReportFormat::Html;
             if (!period_.AllTime())
               request.period = period_;
             for (const QString& path : document_.LogPaths())
               request.logNames.push_back(path.toStdString());
             return WriteAll(
                 file, FormatHtmlReport(BuildReport(document_.Table(LogKind::Download),
                                                    document_.Table(LogKind::Upload), request),
                                        request));
           });
}

void frmUsersOverview::cmdSaveChart_Click() {
  const std::optional<QString> chosen =
      ui_.ChooseSaveFile(tr("Save Activity Chart"), tr("Activity.png"), tr("PNG images (*.png)"));
  if (!chosen)
    return;
  SaveFile(tr("Save Chart"), *chosen, tr("The chart could not be saved to %1."),
           [this](QIODevice& file) {
             if (chartStale_)
               DrawChart();
             return chtActivity->grab().save(&file, "PNG");
           });
}

void frmUsersOverview::SaveFile(const QString& title, const QString& path, const QString& failure,
                                const std::function<bool(QIODevice&)>& write) {
  const QString shown = ShownName(QDir::toNativeSeparators(path));
  // The message may come up over the main window (the file dialog that just closed leaves no
  // window active); the overview comes back in front after it.
  const auto complain = [&](const QString& text) {
    ui_.ShowMessage(title, text);
    raise();
    activateWindow();
  };
  if (document_.IsLoadedLog(path)) {
    complain(tr("%1 is one of the loaded logs, and a log is never written over.\n\n"
                "Nothing was saved; choose another file.")
                 .arg(shown));
    return;
  }
  if (refreshDue_->isActive())
    Refresh();  // the tables changed since the figures were drawn: save what they are now
  // Written to a temporary file that takes the chosen name only once whole.
  QSaveFile file(path);
  if (!(file.open(QIODevice::WriteOnly) && write(file) && file.commit()))
    complain(failure.arg(shown) + QStringLiteral("\n\n") + file.errorString());
}

void frmUsersOverview::UpdateStatus() {
  if (periodRefused_) {
    lblStatus->setText(tr("From is after To: the figures are still those of the last period."));
    return;
  }
  const QLocale locale;
  const auto count = [&locale](std::size_t n) { return locale.toString(qulonglong{n}); };
  const bool files = tabViews->currentWidget() == pgFiles;
  QString status = files ? tr("Files shown: %1 of %2")
                               .arg(count(static_cast<std::size_t>(filesModel_->rowCount())),
                                    count(filesModel_->FileCount()))
                         : tr("Users shown: %1 of %2")
                               .arg(count(static_cast<std::size_t>(model_->rowCount())),
                                    count(model_->UserCount()));
  if (undatedLeftOut_ > 0)
    status += tr("; undated rows left out: %1").arg(count(undatedLeftOut_));
  lblStatus->setText(status);
}

void frmUsersOverview::ChartChanged() {
  chartStale_ = true;
  if (!selecting_ && tabViews->currentWidget() == pgActivity)
    DrawChart();
}

void frmUsersOverview::DrawChart() {
  chartStale_ = false;
  const std::vector<std::string> users = SelectedUsers();
  // The selected users by name, up to three: "ann", "ann and Bob", "ann, Bob, cy and 2 more".
  QString whose = tr("everyone");
  QStringList names;
  for (std::size_t i = 0; i < std::min<std::size_t>(users.size(), 3); ++i)
    names << ShownName(QString::fromStdString(users[i]));
  if (users.size() > 3)
    whose = tr("%1 and %2 more").arg(names.join(QStringLiteral(", "))).arg(users.size() - 3);
  else if (users.size() > 1)
    whose = tr("%1 and %2")
                .arg(names.mid(0, names.size() - 1).join(QStringLiteral(", ")), names.last());
  else if (users.size() == 1)
    whose = names.front();
  // Everyone over all time spans the logs' dated days, known already: no pass to find them; and
  // rows that arrived are added to the bars counted before.
  const LogTable& downloads = document_.Table(LogKind::Download);
  const LogTable& uploads = document_.Table(LogKind::Upload);
  if (users.empty() && period_.AllTime() && logDays_) {
    if (!everyone_ || !everyone_->Grow(downloads, uploads, *logDays_))
      everyone_.emplace(downloads, uploads, *logDays_);
    chtActivity->Show(everyone_->Counted(), whose);
  } else {
    chtActivity->Show(CountActivity(downloads, uploads, users, period_), whose);
  }
  lblActivity->setText(chtActivity->Description());
}

std::optional<std::string> frmUsersOverview::CurrentUser() const {
  const QModelIndex current = lvwUsers->currentIndex();
  if (!current.isValid())
    return std::nullopt;
  return model_->UserAt(current.row()).name;
}

std::vector<std::string> frmUsersOverview::SelectedUsers() const {
  std::vector<std::string> names;
  for (const QModelIndex& row : lvwUsers->selectionModel()->selectedRows())
    names.push_back(model_->UserAt(row.row()).name);
  return names;
}

// Puts back the selection and the current row after the rows were replaced, for those of the
// users still shown; the chart then draws once.
void frmUsersOverview::SelectUsers(const std::vector<std::string>& names,
                                   const std::optional<std::string>& current) {
  selecting_ = true;
  QItemSelection selection;
  const std::vector<int> rows = model_->RowsOf(names);
  for (std::size_t first = 0, end = 0; first < rows.size(); first = end) {
    for (end = first + 1; end < rows.size() && rows[end] == rows[end - 1] + 1;)
      ++end;  // runs of rows make one range each
    selection.select(model_->index(rows[first], 0),
                     model_->index(rows[end - 1], UserFiguresModel::ColumnCount - 1));
  }
  QItemSelectionModel* selected = lvwUsers->selectionModel();
  selected->select(selection, QItemSelectionModel::ClearAndSelect);
  const int row = current ? model_->RowOf(*current) : -1;
  if (row >= 0) {
    const QModelIndex index = model_->index(row, UserFiguresModel::User);
    selected->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    lvwUsers->scrollTo(index);
  }
  selecting_ = false;
  ChartChanged();
}

}  // namespace quorvane
