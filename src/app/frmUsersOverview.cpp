#include "app/frmUsersOverview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <string>
#include <vector>

#include "analysis/Report.h"
#include "analysis/UserFigures.h"
#include "app/AppIdentity.h"
#include "app/Controls.h"
#include "app/Interaction.h"
#include "app/LogTableModel.h"
#include "app/UserFiguresModel.h"
#include "app/frmMain.h"

namespace quorvane {

namespace {

const QString kMinDownloadsKey = QStringLiteral("UsersOverview/LeechMinDownloads");
const QString kMinRatioKey = QStringLiteral("UsersOverview/LeechMinRatio");
constexpr int kDefaultMinDownloads = 10;
constexpr double kDefaultMinRatio = 10;

QLabel* NewCaption(QWidget* parent, const char* name, const QString& text, QWidget* buddy) {
  auto* label = Named(new QLabel(text, parent), name);
  label->setBuddy(buddy);
  return label;
}

}  // namespace

frmUsersOverview::frmUsersOverview(frmMain& main, Interaction& ui)
    : QWidget(&main, Qt::Window),
      main_(main),
      ui_(ui),
      model_(new UserFiguresModel(this)),
      refreshDue_(new QTimer(this)) {
  setObjectName(QStringLiteral("frmUsersOverview"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Users Overview"));
  setWindowIcon(AppIcon());
  setFont(FontOf(kDialogFamilies, 8));
  CreateControls();
  SetTabOrder();
  LoadSettings();
  resize(640, 480);

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
  connect(cmdExport, &QPushButton::clicked, this, &frmUsersOverview::cmdExport_Click);
  connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
  connect(new QShortcut(QKeySequence::Cancel, this), &QShortcut::activated, this, &QWidget::close);
  refreshDue_->setSingleShot(true);
  connect(refreshDue_, &QTimer::timeout, this, &frmUsersOverview::Refresh);
  connect(&main_, &frmMain::TablesChanged, refreshDue_, qOverload<>(&QTimer::start));

  ApplyFilter();
  Refresh();
  txtFind->setFocus();
}

void frmUsersOverview::CreateControls() {
  txtFind = Named(new QLineEdit(this), "txtFind");
  txtFind->setClearButtonEnabled(true);
  lblFind = NewCaption(this, "lblFind", tr("&Find:"), txtFind);
  cboSortBy = Named(new QComboBox(this), "cboSortBy");
  for (int column = 0; column < UserFiguresModel::ColumnCount; ++column)
    cboSortBy->addItem(model_->headerData(column, Qt::Horizontal).toString());
  lblSortBy = NewCaption(this, "lblSortBy", tr("&Sort by:"), cboSortBy);
  chkDescending = Named(new QCheckBox(tr("&Descending"), this), "chkDescending");

  chkLeeches = Named(new QCheckBox(tr("&Leeches only:"), this), "chkLeeches");
  spnMinDownloads = Named(new QSpinBox(this), "spnMinDownloads");
  spnMinDownloads->setRange(0, 999999999);
  spnMinDownloads->setAccessibleName(tr("Leeches: downloads at least"));
  lblMinDownloads = NewCaption(this, "lblMinDownloads", tr("do&wnloads at least"), spnMinDownloads);
  spnMinRatio = Named(new QDoubleSpinBox(this), "spnMinRatio");
  spnMinRatio->setDecimals(2);
  spnMinRatio->setRange(0, 999999.99);
  spnMinRatio->setAccessibleName(tr("Leeches: downloads per upload at least"));
  lblMinRatio = NewCaption(this, "lblMinRatio", tr("and &ratio at least"), spnMinRatio);

  lvwUsers = Named(new QTableView(this), "lvwUsers");
  lvwUsers->setModel(model_);
  lvwUsers->setAccessibleName(tr("Users"));
  lvwUsers->setShowGrid(false);
  lvwUsers->setWordWrap(false);
  lvwUsers->setAlternatingRowColors(true);
  lvwUsers->setCornerButtonEnabled(false);
  lvwUsers->setTabKeyNavigation(false);  // Tab leaves the table, as everywhere in the program
  lvwUsers->setSelectionMode(QAbstractItemView::SingleSelection);
  lvwUsers->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvwUsers->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvwUsers->installEventFilter(this);
  QHeaderView* rows = lvwUsers->verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(1);
  rows->setDefaultSectionSize(lvwUsers->fontMetrics().height() + 4);
  QHeaderView* header = lvwUsers->horizontalHeader();
  header->setSectionsMovable(false);
  header->setHighlightSections(false);
  header->setSortIndicator(UserFiguresModel::User, Qt::AscendingOrder);
  lvwUsers->setSortingEnabled(true);
  // The names take the room the figures leave; each figure is as wide as its caption with the
  // sort arrow, or as seven digits.
  header->setSectionResizeMode(UserFiguresModel::User, QHeaderView::Stretch);
  const QFontMetrics metrics = header->fontMetrics();
  for (int column = UserFiguresModel::Downloads; column < UserFiguresModel::ColumnCount; ++column) {
    const QString caption = model_->headerData(column, Qt::Horizontal).toString();
    header->resizeSection(column, std::max(metrics.horizontalAdvance(caption) + Px(480),
                                           metrics.horizontalAdvance(QStringLiteral("0000000"))));
  }
  lblUsers = NewCaption(this, "lblUsers", tr("&Users:"), lvwUsers);

  lblStatus = Named(new QLabel(this), "lblStatus");
  cmdExport = Button(this, "cmdExport", tr("&Export..."), false);
  cmdClose = Button(this, "cmdClose", tr("&Close"), false);
  for (QPushButton* button : {cmdExport, cmdClose})
    button->setMinimumSize(TwipsSize(1335, 375));

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
  auto* bottomRow = new QHBoxLayout;
  bottomRow->addWidget(lblStatus, 1);
  bottomRow->addWidget(cmdExport);
  bottomRow->addWidget(cmdClose);

  // The filter rows stay rows of their own: further choices of what to show go between them
  // and the table.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(Px(120), Px(120), Px(120), Px(120));
  layout->setSpacing(Px(90));
  layout->addLayout(findRow);
  layout->addLayout(leechRow);
  layout->addSpacing(Px(60));
  layout->addWidget(lblUsers);
  layout->addWidget(lvwUsers, 1);
  layout->addLayout(bottomRow);
}

void frmUsersOverview::SetTabOrder() {
  const std::vector<QWidget*> order = {txtFind,    cboSortBy,       chkDescending,
                                       chkLeeches, spnMinDownloads, spnMinRatio,
                                       lvwUsers,   cmdExport,       cmdClose};
  for (std::size_t i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

void frmUsersOverview::LoadSettings() {
  const QSettings settings;
  spnMinDownloads->setValue(settings.value(kMinDownloadsKey, kDefaultMinDownloads).toInt());
  spnMinRatio->setValue(settings.value(kMinRatioKey, kDefaultMinRatio).toDouble());
}

void frmUsersOverview::Refresh() {
  refreshDue_->stop();
  const std::optional<std::string> chosen = CurrentUser();
  const QStringList names = main_.UserNames();
  std::vector<std::string> users;
  users.reserve(static_cast<std::size_t>(names.size()));
  for (const QString& name : names)
    users.push_back(name.toStdString());
  model_->SetUsers(
      ComputeUserFigures(main_.DownloadLog().Table(), main_.UploadLog().Table(), users));
  SelectUser(chosen);
  UpdateStatus();
}

void frmUsersOverview::ApplyFilter() {
  const std::optional<std::string> chosen = CurrentUser();
  UserFiguresModel::Filter filter;
  filter.part = txtFind->text().toStdString();
  filter.leechesOnly = chkLeeches->isChecked();
  filter.minDownloads = static_cast<std::size_t>(spnMinDownloads->value());
  filter.minRatioHundredths = static_cast<std::uint64_t>(std::llround(spnMinRatio->value() * 100));
  model_->SetFilter(std::move(filter));
  SelectUser(chosen);
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
  if (watched == lvwUsers && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && lvwUsers->currentIndex().isValid()) {
      ShowUserInMain(lvwUsers->currentIndex().row());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void frmUsersOverview::ShowUserInMain(int row) {
  if (row >= 0 && row < model_->rowCount())
    main_.ShowUser(QString::fromStdString(model_->UserAt(row).name));
}

void frmUsersOverview::cmdExport_Click() {
  const std::optional<QString> chosen =
      ui_.ChooseSaveFile(tr("Export Users Overview"), tr("Users Overview.csv"));
  if (!chosen)
    return;
  const QString title = tr("Export");
  const QString shown = QDir::toNativeSeparators(*chosen);
  if (main_.IsLoadedLog(*chosen)) {
    ui_.ShowMessage(title, tr("%1 is one of the loaded logs, and a log is never written over.\n\n"
                              "Nothing was saved; choose another file.")
                               .arg(shown));
    return;
  }
  if (refreshDue_->isActive())
    Refresh();  // the tables changed since the table was drawn
  const std::string csv = FormatCsvUsers(model_->ShownUsers());
  // Written to a temporary file that takes the chosen name only once whole.
  QSaveFile file(*chosen);
  const bool saved =
      file.open(QIODevice::WriteOnly) &&
      file.write(csv.data(), static_cast<qint64>(csv.size())) == static_cast<qint64>(csv.size()) &&
      file.commit();
  if (!saved) {
    ui_.ShowMessage(
        title,
        tr("The users overview could not be saved to %1.\n\n%2").arg(shown, file.errorString()));
  }
}

void frmUsersOverview::UpdateStatus() {
  lblStatus->setText(tr("Users shown: %1 of %2").arg(model_->rowCount()).arg(model_->UserCount()));
}

std::optional<std::string> frmUsersOverview::CurrentUser() const {
  const QModelIndex current = lvwUsers->currentIndex();
  if (!current.isValid())
    return std::nullopt;
  return model_->UserAt(current.row()).name;
}

void frmUsersOverview::SelectUser(const std::optional<std::string>& name) {
  const int row = name ? model_->RowOf(*name) : -1;
  if (row < 0)
    return;
  const QModelIndex index = model_->index(row, UserFiguresModel::User);
  lvwUsers->selectionModel()->setCurrentIndex(
      index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  lvwUsers->scrollTo(index);
}

}  // namespace quorvane
