#include "app/UserFiguresModel.h"

#include <QLocale>
#include <algorithm>
#include <limits>
#include <numeric>
#include <string_view>
#include <unordered_set>

#include "app/DateText.h"

#include "logs/UserList.h"

namespace quorvane {

namespace {

template <typename T>
int Compare(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

UserFiguresModel::UserFiguresModel(QObject* parent) : ReadOnlyTableModel(parent) {}

void UserFiguresModel::SetUsers(std::vector<UserFigures> users) {
  beginResetModel();
  users_ = std::move(users);
  ratios_.clear();
  ratios_.reserve(users_.size());
  for (const UserFigures& user : users_) {
    ratios_.push_back(user.uploads == 0 ? std::numeric_limits<double>::infinity()
                                        : static_cast<double>(user.downloads) /
                                              static_cast<double>(user.uploads));
  }
  SortAll();
  ApplyFilter();
  endResetModel();
}

void UserFiguresModel::SetFilter(Filter filter) {
  beginResetModel();
  filter_ = std::move(filter);
  ApplyFilter();
  endResetModel();
}

void UserFiguresModel::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= ColumnCount)
    return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<std::size_t> usersBefore;
  usersBefore.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before)
    usersBefore.push_back(shown_[static_cast<std::size_t>(index.row())]);

  sortColumn_ = column;
  sortOrder_ = order;
  SortAll();
  ApplyFilter();

  // The same users in their new rows, so the selection and the current row follow them.
  std::vector<int> rowOfUser(users_.size(), -1);
  for (std::size_t row = 0; row < shown_.size(); ++row)
    rowOfUser[shown_[row]] = static_cast<int>(row);
  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i)
    after.push_back(index(rowOfUser[usersBefore[static_cast<std::size_t>(i)]], before[i].column()));
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int UserFiguresModel::CompareKeys(std::size_t a, std::size_t b) const {
  const UserFigures& x = users_[a];
  const UserFigures& y = users_[b];
  switch (sortColumn_) {
    case Downloads:
      return Compare(x.downloads, y.downloads);
    case Uploads:
      return Compare(x.uploads, y.uploads);
    case Ratio:  // without uploads the ratio is infinite: those users order by their downloads
      return x.uploads == 0 && y.uploads == 0 ? Compare(x.downloads, y.downloads)
                                              : Compare(ratios_[a], ratios_[b]);
    case Credit:
      return Compare(x.credit, y.credit);
    case Addresses:
      return Compare(x.addresses, y.addresses);
    case FirstSeen:  // kUndated is the lowest, so the undated come first
      return Compare(x.firstSeen, y.firstSeen);
    case LastSeen:
      return Compare(x.lastSeen, y.lastSeen);
    default:
      return Compare(a, b);  // the users come in display order
  }
}

void UserFiguresModel::SortAll() {
  order_.resize(users_.size());
  std::iota(order_.begin(), order_.end(), std::size_t{0});
  const bool descending = sortOrder_ == Qt::DescendingOrder;
  std::sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
    const int key = CompareKeys(a, b);
    if (key != 0)
      return descending ? key > 0 : key < 0;
    return a < b;
  });
}

bool UserFiguresModel::Passes(const UserFigures& user) const {
  if (filter_.leechesOnly && !filter_.leeches.Matches(user))
    return false;
  return ContainsFolded(user.name, filter_.part);
}

void UserFiguresModel::ApplyFilter() {
  shown_.clear();
  for (std::size_t user : order_) {
    if (Passes(users_[user]))
      shown_.push_back(user);
  }
}

const UserFigures& UserFiguresModel::UserAt(int row) const {
  return users_[shown_.at(static_cast<std::size_t>(row))];
}

int UserFiguresModel::RowOf(const std::string& name) const {
  for (std::size_t row = 0; row < shown_.size(); ++row) {
    if (users_[shown_[row]].name == name)
      return static_cast<int>(row);
  }
  return -1;
}

std::vector<int> UserFiguresModel::RowsOf(const std::vector<std::string>& names) const {
  const std::unordered_set<std::string_view> wanted(names.begin(), names.end());
  std::vector<int> rows;
  for (std::size_t row = 0; row < shown_.size() && rows.size() < wanted.size(); ++row) {
    if (wanted.count(users_[shown_[row]].name) != 0)
      rows.push_back(static_cast<int>(row));
  }
  return rows;
}

std::vector<UserFigures> UserFiguresModel::ShownUsers() const {
  std::vector<UserFigures> shown;
  shown.reserve(shown_.size());
  for (std::size_t user : shown_)
    shown.push_back(users_[user]);
  return shown;
}

int UserFiguresModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

int UserFiguresModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant UserFiguresModel::data(const QModelIndex& index, int role) const {
  if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
    return {};
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::AlignVCenter |
                               (index.column() == User ? Qt::AlignLeft : Qt::AlignRight));
  }
  if (role != Qt::DisplayRole)
    return {};
  const UserFigures& user = UserAt(index.row());
  const QLocale locale;  // counts grouped as the person reads numbers; exports write them bare
  switch (index.column()) {
    case User:
      return QString::fromStdString(user.name);
    case Downloads:
      return locale.toString(qulonglong{user.downloads});
    case Uploads:
      return locale.toString(qulonglong{user.uploads});
    case Ratio:
      // With the locale's separator, as the main window writes it.
      return QString::fromStdString(user.Ratio(QLocale().decimalPoint().toStdString()));
    case Credit:
      return locale.toString(qulonglong{user.credit});
    case Addresses:
      return locale.toString(qulonglong{user.addresses});
    case FirstSeen:
      return ShortDateTime(user.firstSeen);
    default:
      return ShortDateTime(user.lastSeen);
  }
}

QVariant UserFiguresModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
    return {};
  switch (role) {
    case Qt::DisplayRole: {
      static const char* const captions[] = {QT_TR_NOOP("User"),       QT_TR_NOOP("Downloads"),
                                             QT_TR_NOOP("Uploads"),    QT_TR_NOOP("Ratio"),
                                             QT_TR_NOOP("Credit"),     QT_TR_NOOP("Addresses"),
                                             QT_TR_NOOP("First Seen"), QT_TR_NOOP("Last Seen")};
      return tr(captions[section]);
    }
    case Qt::ToolTipRole:
      if (section == Credit)
        return tr("How often other users downloaded the files this user uploaded");
      if (section == Addresses)
        return tr("How many different addresses this user came from");
      if (section == FirstSeen)
        return tr("This user's earliest dated transfer in either log");
      if (section == LastSeen)
        return tr("This user's latest dated transfer in either log");
      return {};
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::AlignVCenter |
                                 (section == User ? Qt::AlignLeft : Qt::AlignRight));
    default:
      return {};
  }
}

}  // namespace quorvane
