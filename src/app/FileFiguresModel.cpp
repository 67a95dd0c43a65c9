#include "app/FileFiguresModel.h"

#include <QLocale>

#include <algorithm>
#include <numeric>

#include "analysis/SharedRoot.h"
#include "app/DateText.h"
#include "logs/UserList.h"

namespace quorvane {

namespace {

// The sort key of a column; names compare by their bytes, times with the undated first.
int CompareOn(int column, const FileFigures& a, const FileFigures& b) {
  const auto compare = [](const auto& x, const auto& y) { return x < y ? -1 : (y < x ? 1 : 0); };
  switch (column) {
    case FileFiguresModel::File:
      return compare(a.file, b.file);
    case FileFiguresModel::Downloads:
      return compare(a.downloads, b.downloads);
    case FileFiguresModel::Downloaders:
      return compare(a.downloaders, b.downloaders);
    case FileFiguresModel::Uploads:
      return compare(a.uploads, b.uploads);
    case FileFiguresModel::FirstUploader:
      return compare(a.firstUploader, b.firstUploader);
    case FileFiguresModel::FirstDownload:
      return compare(a.firstDownload, b.firstDownload);
    default:
      return compare(a.lastDownload, b.lastDownload);
  }
}

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

FileFiguresModel::FileFiguresModel(QObject* parent) : ReadOnlyTableModel(parent) {}

void FileFiguresModel::SetFiles(FilesTable files) {
  beginResetModel();
  files_ = std::move(files);
  root_ = SharedRootOf(files_);
  Arrange();
  endResetModel();
}

void FileFiguresModel::SetFind(std::string part) {
  beginResetModel();
  part_ = std::move(part);
  Arrange();
  endResetModel();
}

void FileFiguresModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= ColumnCount)
    return;
  beginResetModel();
  sortColumn_ = column;
  sortOrder_ = order;
  Arrange();
  endResetModel();
}

void FileFiguresModel::Arrange() {
  shown_ = {};  // its room too: a table closed leaves nothing behind
  for (std::size_t file = 0; file < files_.files.size(); ++file) {
    if (ContainsFolded(RelativeTo(root_, files_.files[file].file), part_))
      shown_.push_back(static_cast<std::uint32_t>(file));
  }
  const bool descending = sortOrder_ == Qt::DescendingOrder;
  std::stable_sort(shown_.begin(), shown_.end(), [&](std::uint32_t a, std::uint32_t b) {
    const int key = CompareOn(sortColumn_, files_.files[a], files_.files[b]);
    return descending ? key > 0 : key < 0;
  });
}

FilesTable FileFiguresModel::ShownFiles() const {
  FilesTable shown;
  shown.texts = files_.texts;
  shown.files.reserve(shown_.size());
  for (std::uint32_t file : shown_)
    shown.files.push_back(files_.files[file]);
  return shown;
}

int FileFiguresModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int FileFiguresModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant FileFiguresModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  const int column = index.column();
  const bool text = column == File || column == FirstUploader;
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::AlignVCenter | (text ? Qt::AlignLeft : Qt::AlignRight));
  const FileFigures& file = FileAt(index.row());
  if (column == File && role == Qt::ToolTipRole) {
    // The whole path as it is written, never read as markup; on one line unless it is longer
    // than a screen is wide.
    const QString path = FromUtf8(file.file);
    return QStringLiteral("<p style=\"white-space:%1\">%2</p>")
        .arg(path.size() > 120 ? QStringLiteral("pre-wrap") : QStringLiteral("pre"),
             path.toHtmlEscaped());
  }
  if (column == File && role == Qt::AccessibleTextRole)
    return FromUtf8(RelativeTo(root_, file.file));
  if (role != Qt::DisplayRole)
    return {};
  const QLocale locale;  // counts grouped as the person reads numbers; exports write them bare
  switch (column) {
    case File:
      return ShortenedInTheMiddle(FromUtf8(RelativeTo(root_, file.file)));
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

QVariant FileFiguresModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
    return {};
  if (role == Qt::TextAlignmentRole) {
    const bool text = section == File || section == FirstUploader;
    return QVariant::fromValue(Qt::AlignVCenter | (text ? Qt::AlignLeft : Qt::AlignRight));
  }
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
