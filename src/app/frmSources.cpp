#include "app/frmSources.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include "app/AppIdentity.h"
#include "app/Controls.h"
#include "app/HistoryFile.h"
#include "app/ReadOnlyTableModel.h"

namespace quorvane {

class SourcesModel : public ReadOnlyTableModel {
 public:
  using ReadOnlyTableModel::ReadOnlyTableModel;

  enum ColumnId { File, Format, Downloads, Uploads, LeftOut, Unreadable, ColumnCount };

  void Set(std::vector<SourceInfo> sources) {
    beginResetModel();
    sources_ = std::move(sources);
    endResetModel();
  }
  int rowCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : static_cast<int>(sources_.size());
  }
  int columnCount(const QModelIndex& parent = {}) const override {
    return parent.isValid() ? 0 : ColumnCount;
  }
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    static const char* const headers[] = {QT_TR_NOOP("File"),      QT_TR_NOOP("Format"),
                                          QT_TR_NOOP("Downloads"), QT_TR_NOOP("Uploads"),
                                          QT_TR_NOOP("Left out"),  QT_TR_NOOP("Lines not read")};
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
      return {};
    return tr(headers[section]);
  }
  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || static_cast<std::size_t>(index.row()) >= sources_.size())
      return {};
    const SourceInfo& source = sources_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() >= Downloads)
      return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole)
      return PlainToolTip(Text(source, index.column()));
    return role == Qt::DisplayRole ? QVariant(Text(source, index.column())) : QVariant();
  }

 private:
  static QString Text(const SourceInfo& source, int column) {
    switch (column) {
      case File:
        return ShownName(QDir::toNativeSeparators(QString::fromStdString(source.input.Text())));
      case Format:
        return FormatText(source);
      case Downloads:
        return QString::number(source.downloads);
      case Uploads:
        return QString::number(source.uploads);
      case LeftOut:
        return QString::number(source.overlapLeftOut);
      default:
        return LinesText(source.unreadableLines);
    }
  }
  static QString FormatText(const SourceInfo& source) {
    QString text;
    switch (source.format) {
      case LogFormat::Classic:
        text = source.classicKind == LogKind::Upload ? tr("Upload Log") : tr("Download Log");
        break;
      case LogFormat::Mobius:
        text = tr("Mobius server log");
        break;
      case LogFormat::MobiusLegacy:
        text = tr("Mobius server log, older layout");
        break;
    }
    return source.compressed ? tr("%1, gzip").arg(text) : text;
  }
  // How many, then the first few line numbers.
  static QString LinesText(const std::vector<std::uint64_t>& lines) {
    if (lines.empty())
      return QStringLiteral("0");
    QStringList numbers;
    for (std::size_t i = 0; i < lines.size() && i < 10; ++i)
      numbers << QString::number(lines[i]);
    return tr("%1 (lines %2%3)")
        .arg(lines.size())
        .arg(numbers.join(QStringLiteral(", ")), lines.size() > 10 ? QStringLiteral("…") : "");
  }

  std::vector<SourceInfo> sources_;
};

frmSources::frmSources(QWidget* parent)
    : QDialog(parent, Qt::Window), model_(new SourcesModel(this)) {
  setObjectName(QStringLiteral("frmSources"));
  setWindowTitle(tr("Sources"));
  setWindowIcon(AppIcon());
  lblHistory = Named(new QLabel(this), "lblHistory");
  lblHistory->setTextFormat(Qt::PlainText);
  lblHistory->setWordWrap(true);
  lblHistory->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblHistory->hide();
  auto* caption = Named(new QLabel(this), "lblFiles");
  lblFiles = caption;
  lvwSources = Named(new QTableView(this), "lvwSources");
  lvwSources->setModel(model_);
  DressAsList(lvwSources, QAbstractItemView::SingleSelection, 2);
  lvwSources->setAccessibleName(tr("Files read"));
  // The figures as wide as they need; the path takes the rest, shortened in its middle on a
  // screen too narrow for it.
  lvwSources->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  lvwSources->horizontalHeader()->setSectionResizeMode(SourcesModel::File, QHeaderView::Stretch);
  lvwSources->setTextElideMode(Qt::ElideMiddle);
  caption->setBuddy(lvwSources);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->button(QDialogButtonBox::Close)->setObjectName(QStringLiteral("cmdClose"));
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
  cmdAddToHistory = Named(new QPushButton(tr("Add to &History..."), this), "cmdAddToHistory");
  cmdAddToHistory->setAccessibleName(tr("Add to History"));
  cmdAddToHistory->setAutoDefault(false);
  cmdAddToHistory->setVisible(HistoryBuilt());
  buttons->addButton(cmdAddToHistory, QDialogButtonBox::ActionRole);
  connect(cmdAddToHistory, &QPushButton::clicked, this, &frmSources::AddToHistoryRequested);
  auto* layout = OuterColumn(this, 120, 105);
  layout->addWidget(lblHistory);
  layout->addWidget(caption);
  layout->addWidget(lvwSources, 1);
  layout->addWidget(buttons);
  resize(Px(11000), Px(3600));
}

void frmSources::Show(const std::vector<SourceInfo>& sources, const QString& history, bool canAdd) {
  model_->Set(sources);
  lblHistory->setText(history);
  lblHistory->setVisible(!history.isEmpty());
  lblHistory->setAccessibleName(history);
  lblFiles->setText(history.isEmpty()
                        ? tr("&Files read by the last load, in the order given:")
                        : tr("&Files the history file learned from, each with the rows it gives:"));
  cmdAddToHistory->setEnabled(canAdd);
  // It opens wide enough for every column, within the screen; once open, its width is the
  // person's.
  if (!isVisible()) {
    const QHeaderView* header = lvwSources->horizontalHeader();
    int columns = 0;
    for (int column = 0; column < header->count(); ++column) {
      columns += std::max(header->sectionSizeHint(column),
                          static_cast<QAbstractItemView*>(lvwSources)->sizeHintForColumn(column)) +
                 1;
    }
    const QMargins margins = layout()->contentsMargins();
    const int frame = margins.left() + margins.right() + 2 * lvwSources->frameWidth() +
                      lvwSources->verticalScrollBar()->sizeHint().width();
    resize(std::min(WidthOnScreen(*this), std::max(Px(11000), columns + frame)), height());
  }
}

}  // namespace quorvane
