#include "app/FileFiguresModel.h"

#include <QLocale>

#include "analysis/SharedRoot.h"
#include "app/DateText.h"
#include "logs/UserList.h"

namespace quorvane {

namespace {

QString FromUtf8(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A path too long for a column reads by its ends: where it starts and what it names. Its middle
// gives way, between whole characters.
QString ShortenedInTheMiddle(QString path) {
  constexpr qsizetype kMost = 72, kHead = 24;
  if (path.size() <= kMost)
    return path;
  qsizetype head = kHead, tail = path.size() - (kMost - kHead - 1);
  if (path[head - 1].isHighSurrogate())
    --head;
  if (path[tail].isLowSurrogate())
    ++tail;
  return path.left(head) + QChar(0x2026) + path.mid(tail);
}

}  // namespace

FileFiguresModel::FileFiguresModel(QObject* parent)
    : SortedTableModel(ColumnCount, 1u << File | 1u << FirstUploader, Downloads,
                       Qt::DescendingOrder, parent) {}

void FileFiguresModel::SetFiles(FilesTable files) {
  beginResetModel();
  files_ = std::move(files);
  root_ = SharedRootOf(files_);
  Arrange(files_.files.size());
  endResetModel();
}

void FileFiguresModel::SetFind(std::string part) {
  beginResetModel();
  part_ = std::move(part);
  Refilter();
  endResetModel();
}

// Names compare by their bytes, times with the undated first.
int FileFiguresModel::CompareOn(int column, std::size_t a, std::size_t b) const {
  const FileFigures& x = files_.files[a];
  const FileFigures& y = files_.files[b];
  switch (column) {
    case File:
      return Compare(x.File(), y.File());
    case Downloads:
      return Compare(x.downloads, y.downloads);
    case Downloaders:
      return Compare(x.downloaders, y.downloaders);
    case Uploads:
      return Compare(x.uploads, y.uploads);
    case FirstUploader:
      return Compare(x.firstUploader, y.firstUploader);
    case FirstDownload:
      return Compare(x.firstDownload, y.firstDownload);
    default:
      return Compare(x.lastDownload, y.lastDownload);
  }
}

bool FileFiguresModel::Passes(std::size_t file) const {
  return ContainsFolded(RelativeTo(root_, files_.files[file].File()), part_);
}

FilesTable FileFiguresModel::ShownFiles() const {
  FilesTable shown;
  shown.texts = files_.texts;
  shown.files.reserve(Shown().size());
  for (std::uint32_t file : Shown())
    shown.files.push_back(files_.files[file]);
  return shown;
}

QVariant FileFiguresModel::Cell(std::size_t item, int column, int role) const {
  const FileFigures& file = files_.files[item];
  if (column == File && role == Qt::ToolTipRole) {
    // The whole path as it is written, never read as markup; on one line unless it is longer
    // than a screen is wide.
    const QString path = FromUtf8(file.File());
    return QStringLiteral("<p style=\"white-space:%1\">%2</p>")
        .arg(path.size() > 120 ? QStringLiteral("pre-wrap") : QStringLiteral("pre"),
             path.toHtmlEscaped());
  }
  if (column == File && role == Qt::AccessibleTextRole)
    return FromUtf8(RelativeTo(root_, file.File()));
  if (role != Qt::DisplayRole)
    return {};
  const QLocale locale;  // counts grouped as the person reads numbers; exports write them bare
  switch (column) {
    case File:
      return ShortenedInTheMiddle(FromUtf8(RelativeTo(root_, file.File())));
    case Downloads:
      return locale.toString(qulonglong{file.downloads});
    case Downloaders:
      return locale.toString(qulonglong{file.downloaders});
    case Uploads:
      return locale.toString(qulonglong{file.uploads});
    case FirstUploader:
      return FromUtf8(file.firstUploader);
    case FirstDownload:
      return ShortDateTime(file.firstDownload);
    default:
      return ShortDateTime(file.lastDownload);
  }
}

QVariant FileFiguresModel::Header(int section, int role) const {
  if (role == Qt::ToolTipRole && section == Downloaders)
    return tr("How many different names downloaded this file");
  if (role != Qt::DisplayRole)
    return {};
  static const char* const captions[] = {QT_TR_NOOP("File"),           QT_TR_NOOP("Downloads"),
                                         QT_TR_NOOP("Downloaders"),    QT_TR_NOOP("Uploads"),
                                         QT_TR_NOOP("First Uploader"), QT_TR_NOOP("First Download"),
                                         QT_TR_NOOP("Last Download")};
  return tr(captions[section]);
}

}  // namespace quorvane
