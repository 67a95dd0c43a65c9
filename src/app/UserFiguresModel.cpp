#include "app/UserFiguresModel.h"

#include <QLocale>
#include <algorithm>
#include <limits>
#include <string_view>
#include <tuple>
#include <unordered_set>

#include "app/DateText.h"
#include "app/DisplayPosition.h"

#include "logs/UserList.h"

namespace quorvane {

namespace {

// Downloads per upload; infinite without uploads.
double RatioOf(const UserFigures& user) {
  return user.uploads == 0
             ? std::numeric_limits<double>::infinity()
             : static_cast<double>(user.downloads) / static_cast<double>(user.uploads);
}

}  // namespace

UserFiguresModel::UserFiguresModel(QObject* parent)
    : SortedTableModel(ColumnCount, 1u << User, User, Qt::AscendingOrder, parent) {}

void UserFiguresModel::SetUsers(std::vector<UserFigures> users) {
  // The same users, a few of whose figures changed (a row removed, rows arrived): only their rows
  // move; no sort, no reset.
  const auto figures = [](const UserFigures& user) {
    return std::tie(user.downloads, user.uploads, user.credit, user.addresses, user.firstSeen,
                    user.lastSeen);
  };
  std::vector<std::uint32_t> changed;
  bool same = users.size() == users_.size();
  for (std::size_t i = 0; same && i < users.size(); ++i) {
    same = users[i].name == users_[i].name;
    if (same && figures(users[i]) != figures(users_[i]))
      changed.push_back(static_cast<std::uint32_t>(i));
  }
  if (same) {
    if (!changed.empty()) {
      Rearrange([&] {
        for (std::uint32_t user : changed) {
          users_[user] = std::move(users[user]);
          ratios_[user] = RatioOf(users_[user]);
        }
        return Moved{users_.size(), [](std::uint32_t user) { return std::int64_t{user}; },
                     std::move(changed)};
      });
    }
    return;
  }
  beginResetModel();
  users_ = std::move(users);
  ratios_.clear();
  ratios_.reserve(users_.size());
  for (const UserFigures& user : users_)
    ratios_.push_back(RatioOf(user));
  Arrange(users_.size());
  endResetModel();
}

void UserFiguresModel::RenameUser(std::string_view from, const UserFigures& figures) {
  const auto listed = std::find_if(users_.begin(), users_.end(),
                                   [&](const UserFigures& user) { return user.name == from; });
  if (listed == users_.end() || from == figures.name)
    return;
  const auto gone = static_cast<std::size_t>(listed - users_.begin());
  Rearrange([&] {
    users_.erase(listed);
    ratios_.erase(ratios_.begin() + static_cast<std::ptrdiff_t>(gone));
    const std::size_t at = DisplayPosition(
        users_.size(), [&](std::size_t i) { return std::string_view(users_[i].name); },
        figures.name);
    const bool came = at == users_.size() || users_[at].name != figures.name;
    if (came) {
      users_.insert(users_.begin() + static_cast<std::ptrdiff_t>(at), figures);
      ratios_.insert(ratios_.begin() + static_cast<std::ptrdiff_t>(at), RatioOf(figures));
    } else {
      users_[at] = figures;
      ratios_[at] = RatioOf(figures);
    }
    const auto renumber = [gone, at, came](std::uint32_t user) -> std::int64_t {
      if (user == gone)
        return -1;
      const std::size_t after = user > gone ? user - 1 : user;
      return static_cast<std::int64_t>(came && after >= at ? after + 1 : after);
    };
    return Moved{users_.size(), renumber, {static_cast<std::uint32_t>(at)}};
  });
}

void UserFiguresModel::SetFilter(Filter filter) {
  beginResetModel();
  filter_ = std::move(filter);
  Refilter();
  endResetModel();
}

int UserFiguresModel::CompareOn(int column, std::size_t a, std::size_t b) const {
  const UserFigures& x = users_[a];
  const UserFigures& y = users_[b];
  switch (column) {
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

bool UserFiguresModel::Passes(std::size_t item) const {
  const UserFigures& user = users_[item];
  if (filter_.leechesOnly && !filter_.leeches.Matches(user))
    return false;
  return ContainsFolded(user.name, filter_.part);
}

const UserFigures& UserFiguresModel::UserAt(int row) const {
  return users_[ItemAt(row)];
}

int UserFiguresModel::RowOf(const std::string& name) const {
  for (std::size_t row = 0; row < Shown().size(); ++row) {
    if (users_[Shown()[row]].name == name)
      return static_cast<int>(row);
  }
  return -1;
}

std::vector<int> UserFiguresModel::RowsOf(const std::vector<std::string>& names) const {
  const std::unordered_set<std::string_view> wanted(names.begin(), names.end());
  std::vector<int> rows;
  for (std::size_t row = 0; row < Shown().size() && rows.size() < wanted.size(); ++row) {
    if (wanted.count(users_[Shown()[row]].name) != 0)
      rows.push_back(static_cast<int>(row));
  }
  return rows;
}

std::vector<UserFigures> UserFiguresModel::ShownUsers() const {
  std::vector<UserFigures> shown;
  shown.reserve(Shown().size());
  for (std::uint32_t user : Shown())
    shown.push_back(users_[user]);
  return shown;
}

QVariant UserFiguresModel::Cell(std::size_t item, int column, int role) const {
  if (role != Qt::DisplayRole)
    return {};
  const UserFigures& user = users_[item];
  const QLocale locale;  // counts grouped as the person reads numbers; exports write them bare
  switch (column) {
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

QVariant UserFiguresModel::Header(int section, int role) const {
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
    default:
      return {};
  }
}

}  // namespace quorvane
