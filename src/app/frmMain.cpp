#include "app/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMimeData>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <array>
#include <filesystem>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "analysis/Averages.h"
#include "analysis/Totals.h"
#include "analysis/UserReport.h"
#include "app/AppIdentity.h"
#include "app/BarProgress.h"
#include "app/Controls.h"
#include "app/DateText.h"
#include "app/DisplayPosition.h"
#include "app/HistoryFile.h"
#include "app/LogDocument.h"
#include "app/LogTableModel.h"
#include "app/QtInteraction.h"
#include "app/frmAbout.h"
#include "app/frmRenameUsers.h"
#include "app/frmSources.h"
#include "app/frmUsersOverview.h"
#include "logs/LogInput.h"
#include "logs/LogLoader.h"
#include "logs/LogReader.h"
#include "logs/UserList.h"

namespace quorvane {

namespace {

// The widget geometry in twips, as the resize layout reads and writes it. Sizes the toolkit would
// reject (negative ones) leave the old value; positions may be negative.
double TopOf(const QWidget* w) {
  return w->y() * kTwipsPerPixel;
}
double WidthOf(const QWidget* w) {
  return w->width() * kTwipsPerPixel;
}
double HeightOf(const QWidget* w) {
  return w->height() * kTwipsPerPixel;
}
void SetLeft(QWidget* w, double twips) {
  w->move(Px(twips), w->y());
}
void SetTop(QWidget* w, double twips) {
  w->move(w->x(), Px(twips));
}
void SetWidth(QWidget* w, double twips) {
  if (twips >= 0)
    w->resize(Px(twips), w->height());
}
void SetHeight(QWidget* w, double twips) {
  if (twips >= 0)
    w->resize(w->width(), Px(twips));
}

const QStringList kArialFamilies = {"Arial", "Liberation Sans", "Arimo", "Nimbus Sans",
                                    "Helvetica"};
const QString kContactAddress = QStringLiteral("ideas@quorvane.example");
const QColor kInvitationYellow(255, 255, 128);
const QColor kContactYellow(255, 255, 192);
const QString kFollowKey = QStringLiteral("Main/Follow");

QString Capitalized(QString text) {
  if (!text.isEmpty())
    text[0] = text[0].toUpper();
  return text;
}

// The files a drag carries: local files only, else none.
QStringList DraggedLogs(const QMimeData* data) {
  QStringList files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile())
      return {};
    files << url.toLocalFile();
  }
  return files;
}

bool NamedUpload(const QString& file) {
  return QFileInfo(file).fileName().contains(QStringLiteral("upload"), Qt::CaseInsensitive);
}

LogSource SourceFor(const QString& file, SourceRole role) {
  return {InputName{ToPath(file), false}, role};
}

QString FileText(const InputName& input) {
  return QDir::toNativeSeparators(QString::fromStdString(input.Text()));
}

// Which of the files are server logs (one log of every transfer) by their first lines. An empty
// file is one when another of them is: a server log is empty from its rotation until its next
// line, picked beside its backups. Alone, or beside classic logs, it goes as a classic log.
std::vector<bool> ServerLogsAmong(const QStringList& files) {
  std::vector<bool> server, empty;
  for (const QString& file : files) {
    const std::optional<LogProbe> probe = ProbeLog({ToPath(file), false});
    server.push_back(probe && probe->format != LogFormat::Classic);
    empty.push_back(probe && probe->empty);
  }
  if (std::find(server.begin(), server.end(), true) != server.end()) {
    for (std::size_t i = 0; i < server.size(); ++i)
      server[i] = server[i] || empty[i];
  }
  return server;
}

// A classic log shows its kind in its first two lines, the header and the first record: a file that
// is no log at all (empty, binary) fails there. Those lines' error, nothing when they read or the
// file cannot be opened (the load says why).
std::optional<ReadError> FirstLinesProblem(const QString& file) {
  LogInput input({ToPath(file), false});
  if (!input.OpenError().empty())
    return std::nullopt;
  std::string text(64 * 1024, '\0');
  std::size_t have = 0;
  std::string error;
  for (std::optional<std::size_t> got; have < text.size(); have += *got) {
    got = input.Read(text.data() + have, text.size() - have, error);
    if (!got)
      return std::nullopt;
    if (*got == 0)
      break;
  }
  std::size_t end = 0;
  for (int lines = 0; end < have && lines < 2; ++end) {
    if (text[end] == '\r' || text[end] == '\n')
      ++lines;
  }
  return ParseAnyLog(std::string_view(text.data(), end < have ? end : have), Expect::Classic).error;
}

bool FillsUploads(SourceRole role) {
  return role == SourceRole::Upload || role == SourceRole::UploadOrServerLog;
}

}  // namespace

// The busy pointer for as long as a command runs; nested commands keep it until the outer one ends.
class frmMain::BusyPointer {
 public:
  explicit BusyPointer(frmMain& window) : window_(window) { window_.SetBusy(true); }
  ~BusyPointer() { window_.SetBusy(false); }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;

 private:
  frmMain& window_;
};

frmMain::frmMain(std::unique_ptr<Interaction> interaction, QWidget* parent)
    : QWidget(parent),
      interaction_(std::move(interaction)),
      document_(new LogDocument(RememberedDateOrder(), this)),  // before any log is read
      downloads_(&document_->Downloads()),
      uploads_(&document_->Uploads()) {
  setObjectName(QStringLiteral("frmMain"));
  if (!interaction_)
    interaction_ = std::make_unique<QtInteraction>(this);
  setWindowTitle(AppTitle());
  setFont(FontOf(kDialogFamilies, 8));
  resize(Px(12375), Px(8685));
  CreateControls();
  FitSizeToScreen();
  SetTabOrder();
  cmdExit->setFocus();
  setAcceptDrops(true);
  connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this,
          &frmMain::Form_Reload);
  connect(document_, &LogDocument::Replaced, this, &frmMain::Document_Replaced);
  connect(document_, &LogDocument::RowsArrived, this, [this](LogKind kind, int first) {
    const bool uploads = kind == LogKind::Upload;
    const auto row = static_cast<std::size_t>(first);
    if (uploads && uploadListCovers_ && row < *uploadListCovers_)
      uploadListCovers_.reset();  // a row read again whole
    if (userList_ && row < userList_->RowsTaken(uploads))
      userList_.reset();
    if (averages_ && row < averages_->RowsTaken(uploads))
      averages_.reset();
    if (!std::exchange(arrivalDue_, true))
      QTimer::singleShot(0, this, &frmMain::RowsArrived);  // once for all a read brought
  });
  connect(document_, &LogDocument::FollowChanged, this, &frmMain::ShowFollowState);
  connect(document_, &LogDocument::FollowChanged, this, &frmMain::ShowSources);
  connect(document_, &LogDocument::RowRemoved, this, [this](LogKind kind) {
    if (kind == LogKind::Upload)
      uploadListCovers_.reset();  // the rows behind moved up
    userList_.reset();            // an address's first row may be gone
    averages_.reset();
  });
  // A list scrolled to its end stays at the end as rows arrive; anywhere else it stays put.
  for (QTableView* list : {lvwDownloadLog, lvwUploadLog}) {
    auto atEnd = std::make_shared<bool>(false);
    connect(list->model(), &QAbstractItemModel::rowsAboutToBeInserted, list, [list, atEnd] {
      const QScrollBar* bar = list->verticalScrollBar();
      *atEnd = bar->value() == bar->maximum();
    });
    connect(list->model(), &QAbstractItemModel::rowsInserted, list, [list, atEnd] {
      if (*atEnd)
        list->scrollToBottom();
    });
  }
  chkFollow->setChecked(QSettings().value(kFollowKey, false).toBool());
  connect(chkFollow, &QCheckBox::toggled, this, &frmMain::chkFollow_Click);
  document_->SetFollowing(chkFollow->isChecked());
  ShowFollowState();
}

frmMain::~frmMain() {
  delete overview_;  // before the interaction it uses goes
}

// Below the minimum the right-hand buttons would cover the analysis panel, or the log lists
// vanish. A screen smaller than the designed size (a high scale factor on a small screen) gets
// the window inside it, title bar and frame reckoned in.
void frmMain::FitSizeToScreen() {
  QSize minimum(Px(kPanelLeft + kPanelWidth - kNoticeGives + 120) + ButtonColumnWidth(),
                fraAnalyzeLog->height() + Px(360) + Px(1800));
  if (const QScreen* shown = screen()) {
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const QSize room = shown->availableGeometry().size() -
                       QSize(2 * frame, style()->pixelMetric(QStyle::PM_TitleBarHeight) + frame);
    minimum = minimum.boundedTo(room);
    resize(size().boundedTo(room).expandedTo(minimum));
  }
  setMinimumSize(minimum);
}

void frmMain::CreateControls() {
  fraDownloadLog = Place(new QGroupBox(tr("Download Log"), this), "fraDownloadLog",
                         TwipsRect(120, 120, 6015, 5055));
  fraUploadLog = Place(new QGroupBox(tr("Upload Log"), this), "fraUploadLog",
                       TwipsRect(6240, 120, 6015, 5055));
  lvwDownloadLog = CreateLogList(fraDownloadLog, "lvwDownloadLog", downloads_);
  lblDownloadSources = SourcesLine(fraDownloadLog, "lblDownloadSources", tr("Download Log files"));
  lblUploadSources = SourcesLine(fraUploadLog, "lblUploadSources", tr("Upload Log files"));
  prgDownloadLog = Bar(fraDownloadLog, "prgDownloadLog", tr("Download Log progress"),
                       TwipsRect(120, 4620, 5775, 255));
  lvwUploadLog = CreateLogList(fraUploadLog, "lvwUploadLog", uploads_);
  prgUploadLog =
      Bar(fraUploadLog, "prgUploadLog", tr("Upload Log progress"), TwipsRect(120, 4620, 5775, 255));

  fraAnalyzeLog = Place(new RuledFrame(tr("Log Analysis"), this), "fraAnalyzeLog",
                        TwipsRect(kPanelLeft, 5280, kPanelWidth, 3255));
  CreateAnalysisPanel();

  cmdLoadLogs = Button(this, "cmdLoadLogs", tr("&Load Logs"), TwipsRect(10920, 5400, 1335, 375));
  cmdRenameUser =
      Button(this, "cmdRenameUser", tr("&Rename Users"), TwipsRect(10920, 5880, 1335, 375));
  cmdUsersOverview = Button(this, "cmdUsersOverview", tr("Users &Overview..."),
                            TwipsRect(10920, 5880 + 375 + 120, 1335, 375));
  cmdUsersOverview->setEnabled(false);  // until there are users
  cmdSources = Button(this, "cmdSources", tr("&Sources..."),
                      TwipsRect(10920, 5880 + 2 * (375 + 120), 1335, 375));
  cmdSources->setEnabled(false);  // until a load
  // Our one longer caption: the button grows to the left so it fits the platform's font, its right
  // edge in line with the buttons above.
  cmdUsersOverview->resize(
      std::max(cmdUsersOverview->width(), cmdUsersOverview->sizeHint().width()),
      cmdUsersOverview->height());
  cmdAbout = Button(this, "cmdAbout", tr("A&bout"), TwipsRect(10920, 7680, 1335, 375));
  cmdExit = Button(this, "cmdExit", tr("E&xit"), TwipsRect(10920, 8160, 1335, 375));

  connect(cmdLoadLogs, &QPushButton::clicked, this, &frmMain::cmdLoadLogs_Click);
  connect(cmdExit, &QPushButton::clicked, this, &frmMain::cmdExit_Click);
  connect(cmdAbout, &QPushButton::clicked, this, &frmMain::cmdAbout_Click);
  connect(cmdRenameUser, &QPushButton::clicked, this, &frmMain::cmdRenameUser_Click);
  connect(cmdUsersOverview, &QPushButton::clicked, this, &frmMain::cmdUsersOverview_Click);
  connect(cmdSources, &QPushButton::clicked, this, &frmMain::cmdSources_Click);
}

// Where a log list's rows came from, in the place of its progress bar, which covers it while a
// load runs.
// A line under a list: it holds its whole text (for screen readers) and shows it fitted to its
// width, its words whole and its file names shortened in their middle.
class frmMain::SourcesLabel : public QLabel {
 public:
  SourcesLabel(QWidget* parent, const SourcesText& text) : QLabel(parent), text_(text) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(),
                          isEnabled(), Fitted(fontMetrics(), contentsRect().width(), text_),
                          foregroundRole());
  }

 private:
  const SourcesText& text_;
};

QLabel* frmMain::SourcesLine(QGroupBox* frame, const char* name, const QString& meaning) {
  SourcesText& text = sourcesText_[name == QLatin1String("lblUploadSources") ? 1 : 0];
  auto* line = Place(new SourcesLabel(frame, text), name, TwipsRect(120, 4620, 5775, 255));
  line->setAccessibleName(meaning);
  line->setTextFormat(Qt::PlainText);
  return line;
}

// A table view dressed as a list: it keeps no per-row state, so loading a million rows or
// removing one of them costs a few milliseconds where a tree view lays out every row again.
QTableView* frmMain::CreateLogList(QGroupBox* frame, const char* name, LogTableModel* model) {
  auto* list = Place(new QTableView(frame), name, TwipsRect(120, 240, 5775, 4215));
  list->setModel(model);
  DressAsList(list, QAbstractItemView::SingleSelection, 2);
  list->setAccessibleName(frame->title());
  QHeaderView* header = list->horizontalHeader();
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setDefaultSectionSize(Px(1440));  // kept when a load resets the model
  for (int column = 0; column < header->count(); ++column)
    header->resizeSection(column, Px(1440));
  list->installEventFilter(this);
  return list;
}

// Each report figure, in the order Analyze empties them.
struct frmMain::Figure {
  const char* name;
  QLabel* frmMain::*label;
  QRect box;
};

const std::array<frmMain::Figure, frmMain::kFigureCount>& frmMain::Figures() {
  static const std::array<Figure, kFigureCount> figures = {{
      {"lblTotalDownloads", &frmMain::lblTotalDownloads, TwipsRect(1440, 210, 975, 255)},
      {"lblTotalUploads", &frmMain::lblTotalUploads, TwipsRect(1440, 570, 975, 255)},
      {"lblTotalRatio", &frmMain::lblTotalRatio, TwipsRect(1440, 930, 975, 255)},
      {"lblAvgDownloads", &frmMain::lblAvgDownloads, TwipsRect(1440, 1530, 975, 255)},
      {"lblAvgUploads", &frmMain::lblAvgUploads, TwipsRect(1440, 1890, 975, 255)},
      {"lblAvgRatio", &frmMain::lblAvgRatio, TwipsRect(1440, 2250, 975, 255)},
      {"lblUserDownloads", &frmMain::lblUserDownloads, TwipsRect(3600, 600, 975, 255)},
      {"lblUserUploads", &frmMain::lblUserUploads, TwipsRect(5400, 600, 975, 255)},
      {"lblUserRatio", &frmMain::lblUserRatio, TwipsRect(3600, 960, 975, 255)},
  }};
  return figures;
}

void frmMain::CreateAnalysisPanel() {
  RuledFrame* panel = fraAnalyzeLog;
  // The caption beside each figure, in the figures' order; a screen reader names the figure by it.
  struct FigureCaption {
    const char* name;
    const char* text;
    QRect box;
  };
  static const FigureCaption captions[] = {
      {"Label1", QT_TR_NOOP("Total Downloads:"), TwipsRect(120, 240, 1245, 195)},
      {"Label2", QT_TR_NOOP("Total Uploads:"), TwipsRect(330, 600, 1035, 195)},
      {"Label3", QT_TR_NOOP("Total Ratio:"), TwipsRect(540, 960, 825, 195)},
      {"Label6", QT_TR_NOOP("Avg. Downloads:"), TwipsRect(150, 1560, 1215, 195)},
      {"Label5", QT_TR_NOOP("Avg. Uploads:"), TwipsRect(360, 1920, 1005, 195)},
      {"Label4", QT_TR_NOOP("Avg. Ratio:"), TwipsRect(570, 2280, 795, 195)},
      {"Label14", QT_TR_NOOP("Downloads:"), TwipsRect(2700, 630, 840, 195)},
      {"Label15", QT_TR_NOOP("Uploads:"), TwipsRect(4680, 630, 630, 195)},
      {"Label16", QT_TR_NOOP("Ratio:"), TwipsRect(3120, 960, 420, 195)},
  };
  static_assert(std::size(captions) == kFigureCount);
  for (std::size_t i = 0; i < kFigureCount; ++i) {
    const QString caption = tr(captions[i].text);
    Caption(panel, captions[i].name, caption, captions[i].box);
    const QString meaning = caption.chopped(1);  // without the colon
    const Figure& figure = Figures()[i];
    this->*figure.label = Value(panel, figure.name, meaning, figure.box);
  }

  QLabel* userName = Caption(panel, "Label13", tr("User Name:"), TwipsRect(2700, 240, 840, 195));
  cboUsers = Place(new NameList(panel), "cboUsers", TwipsRect(3600, 180, 2775, 315));
  cboUsers->setEditable(false);  // pick only
  cboUsers->setAccessibleName(tr("User Name"));
  userName->setBuddy(cboUsers);
  QLabel* uploadList =
      Caption(panel, "Label20", tr("Upload List:"), TwipsRect(2640, 1320, 840, 195), Qt::AlignLeft);
  lstUploads = Place(new QListWidget(panel), "lstUploads", TwipsRect(2640, 1560, 3735, 840));
  lstUploads->setUniformItemSizes(true);
  lstUploads->setAccessibleName(tr("Upload List"));
  uploadList->setBuddy(lstUploads);
  prgAnalyzeUser = Bar(panel, "prgAnalyzeUser", tr("User report progress"),
                       TwipsRect(6480, 180, 255, 2175), Qt::Vertical);

  auto* invitation = Label21 =
      Place(new QLabel(tr("Do you have an idea of what should go in this space? If "
                          "so, please send your idea to:"),
                       panel),
            "Label21", TwipsRect(6960, 240, 3255, 2295));
  invitation->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  invitation->setWordWrap(true);
  invitation->setFont(FontOf(kArialFamilies, 14.25));
  invitation->setAutoFillBackground(true);
  Fill(invitation, QPalette::Window, kInvitationYellow);
  Fill(invitation, QPalette::WindowText, Qt::black);  // readable on the yellow in a dark palette

  // Read-only: typing, deleting and pasting change nothing; selecting and copying still work.
  txtEmail =
      Place(new QLineEdit(kContactAddress, panel), "txtEmail", TwipsRect(7080, 1920, 3015, 360));
  txtEmail->setReadOnly(true);
  txtEmail->setAlignment(Qt::AlignCenter);
  txtEmail->setFont(FontOf(kDialogFamilies, 9.75));
  txtEmail->setAccessibleName(tr("Contact e-mail address"));
  Fill(txtEmail, QPalette::Base, kContactYellow);
  Fill(txtEmail, QPalette::Text, Qt::black);

  panel->AddRule(120, 1320, 2535, 1320);
  panel->AddRule(2520, 240, 2520, 2640);
  panel->AddRule(6840, 240, 6840, 2640);
  panel->AddRule(120, 2640, 10200, 2640);

  // Following sits where the analysis bar shows while Analyze runs.
  chkFollow =
      Place(new QCheckBox(tr("&Follow logs"), panel), "chkFollow", TwipsRect(120, 2820, 1455, 255));
  chkFollow->setAccessibleName(tr("Follow the logs as the server writes them"));
  chkFollow->setToolTip(tr("Shows transfers as the server logs them, within a second"));
  lblFollow = Place(new QLabel(panel), "lblFollow", TwipsRect(1620, 2820, 7155, 255));
  lblFollow->setAccessibleName(tr("Following"));
  lblFollow->setTextFormat(Qt::PlainText);
  prgAnalyze = Bar(panel, "prgAnalyze", tr("Analysis progress"), TwipsRect(120, 2820, 8655, 255));
  prgAnalyze->raise();
  cmdAnalyzeLog = Button(panel, "cmdAnalyzeLog", tr("&Analyze"), TwipsRect(8880, 2760, 1335, 375));

  connect(cmdAnalyzeLog, &QPushButton::clicked, this, &frmMain::cmdAnalyzeLog_Click);
  // activated: only a person's pick, never the rebuild of the list.
  connect(cboUsers, &QComboBox::activated, this, &frmMain::cboUsers_Click);
}

void frmMain::SetTabOrder() {
  const std::vector<QWidget*> order = {cmdExit,     cmdAbout,      cmdAnalyzeLog,    cboUsers,
                                       lstUploads,  txtEmail,      lvwDownloadLog,   lvwUploadLog,
                                       cmdLoadLogs, cmdRenameUser, cmdUsersOverview, cmdSources,
                                       chkFollow};
  for (std::size_t i = 1; i < order.size(); ++i)
    setTabOrder(order[i - 1], order[i]);
}

// --- Load Logs ---

void frmMain::cmdLoadLogs_Click() {
  const std::optional<QStringList> picked =
      interaction_->ChooseLogFiles(tr("Choose a Download Log file..."), LastLogFolder(), {}, true);
  if (!picked || OpenHistoryAmong(*picked))
    return;
  // Server logs hold downloads and uploads both: upload logs are asked for only when classic
  // logs were picked.
  std::vector<LogSource> sources;
  QStringList downloads;
  const std::vector<bool> servers = ServerLogsAmong(*picked);
  for (qsizetype i = 0; i < picked->size(); ++i) {
    const QString& file = (*picked)[i];
    const bool server = servers[static_cast<std::size_t>(i)];
    sources.push_back(SourceFor(file, server ? SourceRole::ServerLog : SourceRole::Download));
    if (!server)
      downloads << file;
  }
  if (!downloads.isEmpty()) {
    if (const std::optional<ReadError> problem = FirstLinesProblem(downloads.first())) {
      interaction_->ShowMessage(
          tr("Load Logs"), LoadFailureText(tr("download log"),
                                           QDir::toNativeSeparators(downloads.first()), *problem));
      return;
    }
    // In the download log's folder, never on the download log itself: Enter must not load one
    // file as both logs.
    const QDir folder = QFileInfo(downloads.first()).absoluteDir();
    const QString uploadName = QStringLiteral("Upload Log.txt");
    const std::optional<QStringList> uploads = interaction_->ChooseLogFiles(
        tr("Choose an Upload Log file..."), folder.absolutePath(),
        QFileInfo(folder.filePath(uploadName)).isFile() ? uploadName : QString());
    if (!uploads || !ConfirmPair(downloads, *uploads))
      return;
    for (const QString& file : *uploads)
      sources.push_back(SourceFor(file, SourceRole::UploadOrServerLog));
  }
  LoadFiles(sources);
}

// One file as both logs gives a ratio of 1 and means nothing, unless the person wants exactly
// that.
bool frmMain::ConfirmPair(const QStringList& downloadLogs, const QStringList& uploadLogs) {
  for (const QString& download : downloadLogs) {
    for (const QString& upload : uploadLogs) {
      std::error_code unreadable;
      if (!std::filesystem::equivalent(ToPath(download), ToPath(upload), unreadable))
        continue;
      return interaction_->AskYesNo(
          tr("Load Logs"),
          tr("%1 is both the download log and the upload log. Load it into both?")
              .arg(ShownName(QDir::toNativeSeparators(download))),
          true);
    }
  }
  return true;
}

// F5: the logs grow while the server runs. A reload is a load, and the report of the old rows
// goes with them.
void frmMain::Form_Reload() {
  if (document_->LoadedHistory()) {
    LoadHistory(QString(document_->LoadedHistory()->path));  // a load replaces it
    return;
  }
  if (document_->Sources().empty()) {
    cmdLoadLogs_Click();
    return;
  }
  const std::vector<LogSource> sources = document_->Sources();  // a load replaces them
  LoadFiles(sources);
}

void frmMain::dragEnterEvent(QDragEnterEvent* event) {
  if (!DraggedLogs(event->mimeData()).isEmpty())
    event->acceptProposedAction();
}

void frmMain::dropEvent(QDropEvent* event) {
  const QStringList files = DraggedLogs(event->mimeData());
  if (files.isEmpty())
    return;
  event->acceptProposedAction();
  // Loading, or asking for the other log, waits until the drag has ended.
  QTimer::singleShot(0, this, [this, files] { OpenLogs(files); });
}

void frmMain::OpenLogs(const QStringList& files) {
  if (OpenHistoryAmong(files))
    return;
  QStringList downloads, uploads;
  std::vector<SourceRole> roles;
  const std::vector<bool> servers = ServerLogsAmong(files);
  for (const QString& file : files) {
    const bool upload = NamedUpload(file);
    roles.push_back(servers[roles.size()] ? SourceRole::ServerLog
                    : upload              ? SourceRole::Upload
                                          : SourceRole::Download);
    if (roles.back() != SourceRole::ServerLog)
      (upload ? uploads : downloads) << file;
  }
  const bool serverLogs = downloads.size() + uploads.size() < files.size();
  if (!serverLogs && files.size() == 2) {
    // A pair: by name, or else the first is the download log.
    const bool swap = NamedUpload(files[0]) && !NamedUpload(files[1]);
    roles = {swap ? SourceRole::Upload : SourceRole::Download,
             swap ? SourceRole::Download : SourceRole::Upload};
    downloads = {files[swap ? 1 : 0]};
    uploads = {files[swap ? 0 : 1]};
  }
  std::vector<LogSource> sources;
  for (std::size_t i = 0; i < roles.size(); ++i)
    sources.push_back(SourceFor(files[static_cast<qsizetype>(i)], roles[i]));
  if (!serverLogs && (downloads.isEmpty() || uploads.isEmpty())) {
    // Logs of one kind only: the other is asked for, in their folder.
    const bool askDownloads = downloads.isEmpty();
    const std::optional<QStringList> others = interaction_->ChooseLogFiles(
        askDownloads ? tr("Choose a Download Log file...") : tr("Choose an Upload Log file..."),
        QFileInfo(files[0]).absolutePath());
    if (!others)
      return;
    (askDownloads ? downloads : uploads) << *others;
    for (const QString& file : *others) {
      sources.push_back(SourceFor(
          file, askDownloads ? SourceRole::DownloadOrServerLog : SourceRole::UploadOrServerLog));
    }
  }
  if (ConfirmPair(downloads, uploads))
    LoadFiles(sources);
}

bool frmMain::LoadLog(const QString& downloadLog, const QString& uploadLog) {
  if (const std::optional<bool> opened = OpenHistoryAmong({downloadLog, uploadLog}))
    return *opened;
  // Each is told by its content as it is read, but for a server log and an empty file: the
  // empty one has no content to tell it by.
  if (ServerLogsAmong({downloadLog, uploadLog}) == std::vector<bool>{true, true}) {
    return LoadFiles({SourceFor(downloadLog, SourceRole::ServerLog),
                      SourceFor(uploadLog, SourceRole::ServerLog)});
  }
  return LoadFiles({SourceFor(downloadLog, SourceRole::DownloadOrServerLog),
                    SourceFor(uploadLog, SourceRole::UploadOrServerLog)});
}

bool frmMain::LoadFiles(const std::vector<LogSource>& sources) {
  SourcesResult loaded;
  QString problem;
  {
    BusyPointer busy(*this);
    // The read holds the window: each log's bar moves with the bytes read. The dialog that just
    // closed goes from the screen only as its events are handled, so they are, once, before the
    // read (a person's input stays blocked); after that the whole window is painted again now
    // and then, so nothing another window uncovers stays stale.
    QElapsedTimer sincePaint;
    const auto keepPainted = [&] {
      if (!sincePaint.isValid() || sincePaint.elapsed() >= 200) {
        repaint();
        sincePaint.restart();
      }
    };
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    keepPainted();
    // Each bar moves with the bytes of all the files that fill its table (a server log's on the
    // download log's bar).
    BarProgress bars[2] = {BarProgress(*prgDownloadLog), BarProgress(*prgUploadLog)};
    std::vector<std::uint64_t> done(sources.size(), 0), sizes(sources.size(), 0);
    SourcesOptions options;
    options.dates = document_->ReadingDateOrder();
    options.progress = [&](std::size_t source, std::uint64_t bytes, std::uint64_t size) {
      done[source] = bytes;
      sizes[source] = size;
      const bool uploadBar = FillsUploads(sources[source].role);
      std::uint64_t barDone = 0, barSize = 0;
      for (std::size_t i = 0; i < sources.size(); ++i) {
        if (FillsUploads(sources[i].role) == uploadBar) {
          barDone += done[i];
          barSize += sizes[i];
        }
      }
      bars[uploadBar ? 1 : 0].AdvanceBytes(barDone, barSize);
      keepPainted();
    };
    try {
      loaded = LoadSources(sources, options);
    } catch (const std::bad_alloc&) {
      problem = tr("There is not enough memory to load these logs, so nothing was changed.");
    }
    bars[0].Hide();
    bars[1].Hide();
    if (loaded.Ok()) {
      document_->Replace(sources, std::move(*loaded.logs), std::move(loaded.sources));
      RememberLogFolder(FileText(sources.front().input).isEmpty()
                            ? QString()
                            : QFileInfo(FileText(sources.front().input)).absolutePath());
      return true;
    }
  }
  if (problem.isEmpty() && loaded.failure) {
    const SourceFailure& failure = *loaded.failure;
    const SourceRole role = sources[failure.source].role;
    const QString log = role == SourceRole::ServerLog ? tr("server log")
                        : FillsUploads(role)          ? tr("upload log")
                                                      : tr("download log");
    problem = LoadFailureText(log, FileText(failure.input), failure.error);
  }
  interaction_->ShowMessage(tr("Load Logs"), problem);
  return false;
}

QString frmMain::LoadFailureText(const QString& log, const QString& file, const ReadError& error) {
  const QString reason = QString::fromStdString(error.reason);
  return tr("The %1 could not be loaded, so nothing was changed.").arg(log) +
         QStringLiteral("\n\n") + ShownName(file) + QStringLiteral("\n") +
         ShownName(error.line != 0 ? tr("Line %1: %2").arg(QString::number(error.line), reason)
                                   : Capitalized(reason));
}

// A history file is a whole load of its own: logs beside it would be read into nothing.
std::optional<bool> frmMain::OpenHistoryAmong(const QStringList& files) {
  const auto history = std::find_if(files.begin(), files.end(), [](const QString& file) {
    return LooksLikeHistory(ToPath(file));
  });
  if (history == files.end())
    return std::nullopt;
  if (files.size() == 1)
    return LoadHistory(files.front());
  interaction_->ShowMessage(tr("Load Logs"),
                            tr("%1 is a history file: it opens alone, without logs, so nothing "
                               "was changed.")
                                .arg(ShownName(QDir::toNativeSeparators(*history))));
  return false;
}

bool frmMain::LoadHistory(const QString& path) {
  HistoryRead read;
  {
    BusyPointer busy(*this);
    // The question that just closed goes from the screen before the read holds the window.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    repaint();
    SourcesOptions options;
    options.dates = document_->ReadingDateOrder();
    read = ReadHistory(ToPath(path), options);
    if (read.logs) {
      document_->Replace({}, std::move(*read.logs), std::move(read.files),
                         HistoryOrigin{QFileInfo(path).absoluteFilePath(), read.since, read.stamp});
      RememberLogFolder(QFileInfo(path).absolutePath());
      return true;
    }
  }
  interaction_->ShowMessage(tr("Load Logs"),
                            tr("The history file could not be loaded, so nothing was changed.") +
                                QStringLiteral("\n\n") + ShownName(read.failure));
  return false;
}

// Adds the loaded logs, read again from disk, to a history file the person names; the window
// itself goes on showing the logs.
void frmMain::AddToHistory() {
  if (document_->Sources().empty() || document_->LoadedHistory())
    return;
  const std::optional<QString> chosen = interaction_->ChooseSaveFile(
      tr("Add to History"), tr("Quorvane history.db"), HistoryFilter(), true);
  if (!chosen)
    return;
  const QString shown = ShownName(QDir::toNativeSeparators(*chosen));
  // The message may come up over the main window (the file dialog that just closed leaves no
  // window active); Sources, which asked, comes back in front after it.
  const auto tell = [&](bool failed, const QString& text) {
    if (failed)
      interaction_->ShowMessage(tr("Add to History"), text);
    else
      interaction_->ShowNotice(tr("Add to History"), text);
    if (!sourcesWindow_.isNull()) {
      sourcesWindow_->raise();
      sourcesWindow_->activateWindow();
    }
  };
  if (document_->IsLoadedLog(*chosen)) {
    tell(true, tr("%1 is one of the loaded logs, and a log is never written over.\n\nNothing "
                  "was added; choose another file.")
                   .arg(shown));
    return;
  }
  HistoryAdded added;
  {
    BusyPointer busy(*this);
    SourcesOptions options;
    options.dates = document_->ReadingDateOrder();
    added = quorvane::AddToHistory(ToPath(*chosen), document_->Sources(), options);
  }
  if (!added.failure.isEmpty()) {
    tell(true,
         tr("Nothing was added to the history file.") + QStringLiteral("\n\n") + added.failure);
  } else {
    tell(false, tr("%1 downloads and %2 uploads were added to %3.")
                    .arg(added.downloads)
                    .arg(added.uploads)
                    .arg(shown));
  }
}

const std::vector<SourceInfo>& frmMain::Sources() const {
  return document_->SourceInfos();
}

DateOrder frmMain::ReadingDateOrder() const {
  return document_->ReadingDateOrder();
}

void frmMain::Document_Replaced() {
  // The figures and the report described the old rows.
  ClearFigures(kFigureCount);
  analyzed_ = false;
  LoadUsers();
  ShowSources();
}

// Under each list, the files its rows came from and what was left out of them; Sources tells
// each file's figures. A history says so first, and since when it keeps transfers.
void frmMain::ShowSources() {
  const std::optional<HistoryOrigin>& history = document_->LoadedHistory();
  for (QLabel* line : {lblDownloadSources, lblUploadSources}) {
    const bool uploads = line == lblUploadSources;
    QStringList names, paths;
    std::size_t leftOut = 0, unreadable = 0;
    for (const SourceInfo& source : document_->SourceInfos()) {
      if (source.format == LogFormat::Classic && (source.classicKind == LogKind::Upload) != uploads)
        continue;
      names << ShownName(QFileInfo(FileText(source.input)).fileName());
      paths << ShownName(FileText(source.input));
      leftOut += source.overlapLeftOut;
      unreadable += source.unreadableLines.size();
    }
    // What was left out first: the names that follow may not fit.
    const qsizetype count = names.size();
    const QString historyFile =
        history ? ShownName(QFileInfo(history->path).fileName()) : QString();
    const QString since = history ? history->since : QString();
    SourcesText& text = sourcesText_[uploads ? 1 : 0];
    text.names = names;
    text.compose = [=](const QStringList& shown) {
      QStringList said = {count == 1 ? shown.value(0) : tr("%1 files").arg(count)};
      if (leftOut != 0)
        said << (leftOut == 1 ? tr("1 row already read left out")
                              : tr("%1 rows already read left out").arg(leftOut));
      if (unreadable != 0)
        said << (unreadable == 1 ? tr("1 line that could not be read")
                                 : tr("%1 lines that could not be read").arg(unreadable));
      QString files = said.join(QStringLiteral(", "));
      if (count > 1 && !shown.isEmpty())
        files += QStringLiteral(": ") + shown.join(QStringLiteral(", "));
      if (historyFile.isEmpty())
        return count == 0 ? QString() : tr("From %1").arg(files);
      return count == 0 ? tr("History file %1, since %2").arg(historyFile, since)
                        : tr("History file %1, since %2, from %3").arg(historyFile, since, files);
    };
    if (history)
      paths.prepend(ShownName(QDir::toNativeSeparators(history->path)));
    line->setText(text.compose(names));
    line->update();
    line->setToolTip(PlainToolTip(paths.join('\n')));
  }
  cmdSources->setEnabled(!document_->SourceInfos().empty() || history);
  if (auto* open = qobject_cast<frmSources*>(sourcesWindow_.data()))
    ShowSourcesIn(*open);
}

void frmMain::ShowSourcesIn(frmSources& window) const {
  QString history;
  if (const std::optional<HistoryOrigin>& loaded = document_->LoadedHistory()) {
    history = tr("History file %1, keeping transfers since %2.")
                  .arg(ShownName(QDir::toNativeSeparators(loaded->path)), loaded->since);
  }
  window.Show(document_->SourceInfos(), history,
              !document_->Sources().empty() && !document_->LoadedHistory());
}

// One Sources window, kept up to date while it is open.
void frmMain::cmdSources_Click() {
  if (sourcesWindow_.isNull()) {
    auto* window = new frmSources(this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &frmSources::AddToHistoryRequested, this, &frmMain::AddToHistory);
    sourcesWindow_ = window;
  }
  auto* window = static_cast<frmSources*>(sourcesWindow_.data());
  ShowSourcesIn(*window);
  window->show();
  window->raise();
  window->activateWindow();
}

void frmMain::LoadUsers() {
  cboUsers->clear();
  cboUsers->setPlaceholderText(QString());
  const LogTable& downloads = downloads_->Table();
  const LogTable& uploads = uploads_->Table();
  // Each table's bar shows only while the pass over that table runs; an empty table leaves its bar
  // alone.
  BarProgress downloadBar(*prgDownloadLog);
  BarProgress uploadBar(*prgUploadLog);
  const auto startUploads = [&] {
    downloadBar.Hide();
    if (!uploads.Empty())
      uploadBar.Show(uploads.RowCount());
  };
  if (!downloads.Empty())
    downloadBar.Show(downloads.RowCount());
  userList_.emplace(
      downloads, uploads,
      [&](std::size_t done) {
        downloadBar.Advance(done);
        if (done >= downloads.RowCount())
          startUploads();
      },
      [&](std::size_t done) {
        startUploads();
        uploadBar.Advance(done);
      });
  averages_.reset();  // of other tables
  downloadBar.Hide();
  uploadBar.Hide();

  FillUserList(userList_->Names());
}

void frmMain::FillUserList(const std::vector<std::string>& names) {
  QStringList entries;
  entries.reserve(static_cast<qsizetype>(names.size()));
  for (const std::string& name : names)
    entries.push_back(QString::fromStdString(name));
  const QSignalBlocker quiet(cboUsers);
  cboUsers->clear();
  cboUsers->setPlaceholderText(QString());
  cboUsers->addItems(entries);
  cboUsers->setCurrentIndex(-1);
  cmdUsersOverview->setEnabled(cboUsers->count() > 0);
}

std::size_t frmMain::RenameUser(const QString& from, const QString& to) {
  const std::size_t renamed = document_->RenameUser(from.toStdString(), to.toStdString());
  userList_.reset();  // the addresses stay, and so do the averages
  // The same rows stand first for each address: the list follows from itself, not from the rows.
  // `from` gives way to `to`, once, in display order; the other entries stay as they are.
  const QSignalBlocker quiet(cboUsers);
  const int listed = cboUsers->findText(from, Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (from != to && listed >= 0) {
    cboUsers->removeItem(listed);
    const int at = static_cast<int>(DisplayPosition(
        static_cast<std::size_t>(cboUsers->count()),
        [this](std::size_t i) { return cboUsers->itemText(static_cast<int>(i)).toStdString(); },
        to.toStdString()));
    if (at == cboUsers->count() || cboUsers->itemText(at) != to)
      cboUsers->insertItem(at, to);
  }
  cboUsers->setPlaceholderText(QString());
  cboUsers->setCurrentIndex(-1);
  ClearFigures(kUserFigureCount);  // no user is chosen in the new list
  return renamed;
}

QStringList frmMain::UserNames() const {
  QStringList names;
  names.reserve(cboUsers->count());
  for (int i = 0; i < cboUsers->count(); ++i)
    names << cboUsers->itemText(i);
  return names;
}

void frmMain::ShowUser(const QString& name) {
  const int entry = cboUsers->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
  cboUsers->setCurrentIndex(entry);
  // A name the list leaves out (every row of it from an address someone else used first) still
  // has a report; the box shows whose it is without adding it to the list.
  cboUsers->setPlaceholderText(entry < 0 ? name : QString());
  AnalyzeUser();
}

QString frmMain::ChosenUser() const {
  return cboUsers->currentIndex() >= 0 ? cboUsers->currentText() : cboUsers->placeholderText();
}

// The last `count` figures (the user's are last) and, with the user's, the upload list.
void frmMain::ClearFigures(std::size_t count) {
  for (std::size_t i = kFigureCount - count; i < kFigureCount; ++i)
    (this->*Figures()[i].label)->clear();
  lstUploads->clear();
  uploadListCovers_.reset();
  cboUsers->setPlaceholderText(QString());
}

// --- Analyze ---

void frmMain::cmdAnalyzeLog_Click() {
  // Disabling the focused button would send the focus on; it comes back at the end.
  const bool hadFocus = cmdAnalyzeLog->hasFocus();
  cmdAnalyzeLog->setEnabled(false);
  SetBusy(true);
  for (const Figure& figure : Figures())
    (this->*figure.label)->clear();
  if (downloads_->rowCount() < 1 || uploads_->rowCount() < 1)
    cmdLoadLogs_Click();

  AnalyzeTotal();

  prgAnalyze->setValue(0);
  prgAnalyze->setVisible(true);
  const std::size_t rows = downloads_->Table().RowCount() + uploads_->Table().RowCount();
  const bool user = !ChosenUser().isEmpty() || cboUsers->currentIndex() != -1;
  const std::size_t steps = user ? 2 * rows : rows;
  prgAnalyze->setMaximum(static_cast<int>(
      std::min<std::size_t>(steps, static_cast<std::size_t>(std::numeric_limits<int>::max()))));
  AnalyzeAvg();
  if (user)
    AnalyzeUser();
  analyzed_ = true;
  prgAnalyze->setValue(0);
  prgAnalyze->setVisible(false);

  SetBusy(false);
  cmdAnalyzeLog->setEnabled(true);
  if (hadFocus)
    cmdAnalyzeLog->setFocus();
}

void frmMain::AnalyzeTotal() {
  const Totals totals =
      ComputeTotals(downloads_->Table(), uploads_->Table(), DecimalSeparator().toStdString());
  lblTotalDownloads->setText(QString::number(totals.downloads));
  lblTotalUploads->setText(QString::number(totals.uploads));
  lblTotalRatio->setText(QString::fromStdString(totals.ratio));
}

void frmMain::AnalyzeAvg(bool arriving) {
  BarProgress bar(*prgAnalyze);
  if (arriving && averages_) {
    averages_->Grow(downloads_->Table(), uploads_->Table());
  } else {
    averages_.emplace(downloads_->Table(), uploads_->Table(),
                      [&](std::size_t done) { bar.Advance(done); });
  }
  const Averages averages = averages_->Compute(DecimalSeparator().toStdString());
  lblAvgDownloads->setText(QString::fromStdString(averages.downloadsText));
  lblAvgUploads->setText(QString::fromStdString(averages.uploadsText));
  lblAvgRatio->setText(QString::fromStdString(averages.ratio));
}

void frmMain::cboUsers_Click() {
  cboUsers->setPlaceholderText(QString());
  AnalyzeUser();
}

void frmMain::AnalyzeUser(bool arriving) {
  const LogTable& downloads = downloads_->Table();
  const LogTable& uploads = uploads_->Table();
  const std::size_t listed = arriving && uploadListCovers_ ? *uploadListCovers_ : 0;
  if (listed == 0)
    lstUploads->clear();
  BarProgress userBar(*prgAnalyzeUser);
  BarProgress analyzeBar(*prgAnalyze);  // hidden unless Analyze runs this report
  if (!arriving)
    userBar.Show(downloads.RowCount() + uploads.RowCount());
  const UserReport report =
      BuildUserReport(downloads, uploads, ChosenUser().toStdString(),
                      DecimalSeparator().toStdString(), [&](std::size_t done) {
                        userBar.Advance(done);
                        analyzeBar.Advance(done);
                      });
  lblUserDownloads->setText(QString::number(report.downloads));
  QStringList files;
  files.reserve(static_cast<qsizetype>(report.uploadRows.size()));
  for (std::size_t row : report.uploadRows) {
    if (row >= listed)
      files.push_back(QString::fromStdString(uploads.CellText(row, Column::FileName)));
  }
  lstUploads->addItems(files);
  uploadListCovers_ = uploads.RowCount();
  lblUserUploads->setText(QString::number(report.uploads));
  lblUserRatio->setText(QString::fromStdString(report.ratio));
  userBar.Hide();
}

QString frmMain::DecimalSeparator() const {
  return QLocale().decimalPoint();
}

// --- Backspace in a log list ---

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    LogTableModel* model = watched == lvwDownloadLog ? downloads_
                           : watched == lvwUploadLog ? uploads_
                                                     : nullptr;
    if (model != nullptr) {
      // The list's own key handling follows, as for any key.
      for (const QChar character : static_cast<QKeyEvent*>(event)->text()) {
        LogList_KeyPress(*static_cast<QTableView*>(watched), *model, character.unicode());
      }
    }
  }
  return QWidget::eventFilter(watched, event);
}

void frmMain::LogList_KeyPress(QTableView& list, LogTableModel& model, int keyAscii) {
  constexpr int kBackspace = 8;
  if (model.rowCount() == 0 || keyAscii != kBackspace)
    return;
  const QModelIndexList selected = list.selectionModel()->selectedRows();
  if (selected.isEmpty())
    return;
  const int row = selected.first().row();
  document_->RemoveRow(&model == downloads_ ? LogKind::Download : LogKind::Upload, row);
  // The row that moved up takes the selection, so holding the key removes one row per repeat.
  if (model.rowCount() > 0) {
    list.selectionModel()->setCurrentIndex(
        model.index(std::min(row, model.rowCount() - 1), 0),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  }
}

// --- Exit ---

void frmMain::cmdExit_Click() {
  interaction_->Quit();
}

void frmMain::cmdAbout_Click() {
  frmAbout about(*interaction_, this);
  ExecModal(about);
}

void frmMain::cmdRenameUser_Click() {
  if (cboUsers->count() == 0)
    return;
  frmRenameUsers rename(
      UserNames(),
      [this](const QString& from, const QString& to) {
        const std::size_t renamed = RenameUser(from, to);
        return frmRenameUsers::Renamed{renamed, UserNames()};
      },
      *interaction_, this);
  ExecModal(rename);
}

// One overview at a time: opening it again brings the open one to the front.
void frmMain::cmdUsersOverview_Click() {
  if (overview_.isNull()) {
    BusyPointer busy(*this);
    overview_ = new frmUsersOverview(*document_, *interaction_, *this);
    connect(overview_, &frmUsersOverview::ShowUserRequested, this, &frmMain::ShowUser);
    // Beside the main window when the screen has room, so both log lists stay in sight; else
    // over it, but above its report: a user shown from the overview appears there, in sight.
    // The title bar the window manager adds is reckoned in.
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    const QRect screen = this->screen()->availableGeometry();
    const int reportTop = fraAnalyzeLog->mapToGlobal(QPoint(0, 0)).y();
    if (const std::optional<QPoint> beside =
            BesideOnScreen(screen, frameGeometry(), overview_->size() + QSize(0, titleBar))) {
      overview_->move(*beside);
    } else {
      overview_->move(
          std::max(screen.left(), frameGeometry().center().x() - overview_->width() / 2),
          std::max(screen.top() + titleBar, reportTop - overview_->height()) - titleBar);
    }
  }
  overview_->show();
  overview_->raise();
  overview_->activateWindow();
}

// --- Follow ---

void frmMain::chkFollow_Click(bool on) {
  QSettings().setValue(kFollowKey, on);
  // After a file could not be read, following starts again on the files as they are now.
  if (on && document_->FollowerStopped())
    Form_Reload();
  document_->SetFollowing(on);
}

void frmMain::ShowFollowState() {
  const QString failure = ShownName(document_->FollowFailure());
  if (!failure.isEmpty() && chkFollow->isChecked()) {
    const QSignalBlocker keepSetting(chkFollow);  // the person's choice stays for the next run
    chkFollow->setChecked(false);
    lblFollow->setText(tr("Following stopped: %1").arg(failure));
    interaction_->ShowMessage(
        tr("Follow Logs"), tr("Following stopped: %1\n\nThe rows read so far stay.").arg(failure));
    return;
  }
  if (!document_->Following()) {
    if (failure.isEmpty())
      lblFollow->clear();
    return;
  }
  const std::optional<HistoryOrigin>& history = document_->LoadedHistory();
  if (document_->Sources().empty() && !history) {
    lblFollow->setText(tr("Following starts with the next load."));
    return;
  }
  const std::size_t files = document_->FollowedFiles();
  QString text =
      history ? tr("Following history file %1").arg(ShownName(QFileInfo(history->path).fileName()))
      : files == 1 ? tr("Following 1 file")
                   : tr("Following %1 files").arg(files);
  const QStringList gone = document_->MissingFiles();
  if (!gone.isEmpty()) {
    QStringList names;
    for (const QString& name : gone)
      names << ShownName(name);
    text += tr(" (gone: %1)").arg(names.join(QStringLiteral(", ")));
  }
  if (document_->NewestTransfer() != kUndated)
    text += tr("; newest transfer %1").arg(ShortDateTime(document_->NewestTransfer()));
  lblFollow->setText(text);
}

// Rows arrived: the user list (the chosen user stays chosen), the figures once Analyze has run,
// the Sources lines. The lists and the overview follow on their own.
void frmMain::RowsArrived() {
  arrivalDue_ = false;
  const QString chosen = ChosenUser();
  const bool picked = cboUsers->currentIndex() >= 0;
  // Appended rows only add names: the list then changes only when one came in.
  bool changed = false;
  if (userList_) {
    changed = userList_->Grow(downloads_->Table(), uploads_->Table());
  } else {
    userList_.emplace(downloads_->Table(), uploads_->Table());
    const std::vector<std::string>& names = userList_->Names();
    changed = names.size() != static_cast<std::size_t>(cboUsers->count()) ||
              !std::equal(names.begin(), names.end(), UserNames().begin(),
                          [](const std::string& name, const QString& entry) {
                            return QString::fromStdString(name) == entry;
                          });
  }
  if (changed) {
    FillUserList(userList_->Names());
    const int entry =
        picked ? cboUsers->findText(chosen, Qt::MatchExactly | Qt::MatchCaseSensitive) : -1;
    const QSignalBlocker quiet(cboUsers);
    cboUsers->setCurrentIndex(entry);
    cboUsers->setPlaceholderText(entry < 0 ? chosen : QString());
  }
  if (analyzed_) {
    AnalyzeTotal();
    AnalyzeAvg(true);
    if (!chosen.isEmpty())
      AnalyzeUser(true);
  }
  ShowSources();
}

void frmMain::SetBusy(bool busy) {
  const bool changes = busy ? busyDepth_++ == 0 : --busyDepth_ == 0;
  if (changes)
    interaction_->SetBusy(busy);
}

// --- Layout ---

void frmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Form_Resize();
}

// The line's words stay whole: its file names are shortened in their middle, each as far as the
// line's width needs; when even short names do not fit, several go (the tooltip has them all).
QString frmMain::SourcesLineShown(bool uploads) const {
  const QLabel* line = uploads ? lblUploadSources : lblDownloadSources;
  return Fitted(line->fontMetrics(), line->contentsRect().width(), sourcesText_[uploads ? 1 : 0]);
}

QString frmMain::Fitted(const QFontMetrics& metrics, int room, const SourcesText& text) {
  if (!text.compose)
    return {};
  const auto fits = [&](const QString& shown) { return metrics.horizontalAdvance(shown) <= room; };
  // Names that fit as they are stay whole: eliding a name to its own (rounded) width can still
  // cut it.
  if (QString whole = text.compose(text.names); fits(whole))
    return whole;
  const auto shortened = [&](int width) {
    QStringList shown;
    for (const QString& name : text.names)
      shown << metrics.elidedText(name, Qt::ElideMiddle, width);
    return text.compose(shown);
  };
  int widest = 0;
  for (const QString& name : text.names)
    widest = std::max(widest, metrics.horizontalAdvance(name));
  // The widest a name may be, found by halving: at least a few letters each side of the dots.
  int low = metrics.horizontalAdvance(QStringLiteral("abc\u2026xyz")), high = widest;
  while (low < high) {
    const int middle = (low + high + 1) / 2;
    if (fits(shortened(middle)))
      low = middle;
    else
      high = middle - 1;
  }
  QString shown = shortened(low);
  if (!fits(shown) && text.names.size() > 1)
    shown = text.compose({});
  return shown;
}

// The right-hand buttons with the gap to their left and the margin to their right, in pixels.
int frmMain::ButtonColumnWidth() const {
  int widest = 0;
  for (const QWidget* button :
       {cmdLoadLogs, cmdRenameUser, cmdUsersOverview, cmdSources, cmdAbout, cmdExit})
    widest = std::max(widest, button->width());
  return Px(120) + widest + Px(120);
}

void frmMain::Form_Resize() {
  const double w = width() * kTwipsPerPixel;
  const double h = height() * kTwipsPerPixel;
  SetWidth(fraDownloadLog, w / 2 - 180);
  SetHeight(fraDownloadLog, h - HeightOf(fraAnalyzeLog) - 360);
  SetWidth(lvwDownloadLog, WidthOf(fraDownloadLog) - 240);
  SetHeight(lvwDownloadLog, HeightOf(fraDownloadLog) - HeightOf(prgDownloadLog) - 480);
  SetTop(prgDownloadLog, HeightOf(lvwDownloadLog) + 360);
  SetWidth(prgDownloadLog, WidthOf(fraDownloadLog) - 240);
  SetLeft(fraUploadLog, WidthOf(fraDownloadLog) + 240);
  SetWidth(fraUploadLog, WidthOf(fraDownloadLog));
  SetHeight(fraUploadLog, HeightOf(fraDownloadLog));
  SetWidth(lvwUploadLog, WidthOf(lvwDownloadLog));
  SetHeight(lvwUploadLog, HeightOf(lvwDownloadLog));
  SetTop(prgUploadLog, TopOf(prgDownloadLog));
  SetWidth(prgUploadLog, WidthOf(prgDownloadLog));
  for (QLabel* line : {lblDownloadSources, lblUploadSources}) {
    SetTop(line, TopOf(prgDownloadLog));
    SetWidth(line, WidthOf(prgDownloadLog));
  }
  SetTop(fraAnalyzeLog, HeightOf(fraDownloadLog) + 240);
  SetLeft(cmdLoadLogs, w - WidthOf(cmdAbout) - 120);
  SetTop(cmdLoadLogs, HeightOf(fraDownloadLog) + 300);
  SetLeft(cmdRenameUser, w - WidthOf(cmdAbout) - 120);
  SetTop(cmdRenameUser, TopOf(cmdLoadLogs) + HeightOf(cmdLoadLogs) + 120);
  SetLeft(cmdUsersOverview, w - WidthOf(cmdUsersOverview) - 120);
  SetTop(cmdUsersOverview, TopOf(cmdRenameUser) + HeightOf(cmdRenameUser) + 120);
  SetLeft(cmdSources, w - WidthOf(cmdSources) - 120);
  SetTop(cmdSources, TopOf(cmdUsersOverview) + HeightOf(cmdUsersOverview) + 120);
  SetLeft(cmdAbout, w - WidthOf(cmdAbout) - 120);
  SetTop(cmdAbout, h - HeightOf(cmdAbout) - HeightOf(cmdExit) - 240);
  SetLeft(cmdExit, w - WidthOf(cmdExit) - 120);
  SetTop(cmdExit, h - HeightOf(cmdExit) - 120);
  // Too narrow for the panel and the buttons beside it, the notice on the panel's right gives up
  // width, so the buttons never cover the panel.
  const double give =
      std::clamp(kPanelLeft + kPanelWidth + ButtonColumnWidth() * kTwipsPerPixel - w, 0.0,
                 double{kNoticeGives});
  SetWidth(fraAnalyzeLog, kPanelWidth - give);
  SetWidth(Label21, 3255 - give);
  SetWidth(txtEmail, 3015 - give);
  SetWidth(prgAnalyze, 8655 - give);
  SetWidth(lblFollow, 7155 - give);
  SetLeft(cmdAnalyzeLog, 8880 - give);
}

}  // namespace quorvane
