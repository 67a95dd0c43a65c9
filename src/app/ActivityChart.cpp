#include "app/ActivityChart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsSimpleTextItem>
#include <QHelpEvent>
#include <QLocale>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

#include "app/DateText.h"

namespace quorvane {

namespace {

QString IsoDay(std::int64_t day) {
  return QString::fromStdString(FormatDay(day));
}

// Whole-number ticks 1, 2 or 5 times a power of ten apart, at most five of them above 0.
double TickInterval(std::size_t highest) {
  for (double power = 1;; power *= 10) {
    for (const double multiple : {1.0, 2.0, 5.0}) {
      if (multiple * power * 5 >= static_cast<double>(highest))
        return multiple * power;
    }
  }
}

}  // namespace

ActivityChart::ActivityChart(QWidget* parent)
    : QChartView(new QChart, parent),  // owned by the view; setChart would orphan a first one
      series_(new QBarSeries),
      downloads_(new QBarSet(tr("Downloads"))),
      uploads_(new QBarSet(tr("Uploads"))),
      bars_(new QBarCategoryAxis),
      counts_(new QValueAxis) {
  QChart* chart = this->chart();
  chart->setBackgroundRoundness(0);
  chart->layout()->setContentsMargins(0, 0, 0, 0);  // white to the view's edges
  chart->legend()->setAlignment(Qt::AlignTop);
  series_->setBarWidth(0.8);
  series_->append(downloads_);
  series_->append(uploads_);
  chart->addSeries(series_);
  // The axis keeps the bars in place; PlaceLabels writes as many of its labels as fit.
  bars_->setLabelsVisible(false);
  bars_->setGridLineVisible(false);
  counts_->setLabelFormat(QStringLiteral("%.0f"));
  counts_->setTickType(QValueAxis::TicksDynamic);
  counts_->setTickAnchor(0);
  chart->addAxis(bars_, Qt::AlignBottom);
  chart->addAxis(counts_, Qt::AlignLeft);
  series_->attachAxis(bars_);
  series_->attachAxis(counts_);
  UseFont();
  UsePalette();
  setAccessibleName(tr("Activity"));

  connect(chart, &QChart::plotAreaChanged, this, &ActivityChart::PlaceLabels);
}

// A bar's tooltip shows anywhere over its day (or week...) of the plot, so that a short bar is
// as easy to point at as a tall one; it goes when the pointer leaves that column.
bool ActivityChart::viewportEvent(QEvent* event) {
  if (event->type() != QEvent::ToolTip)
    return QChartView::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const QPointF point = chart()->mapFromScene(mapToScene(help->pos()));
  const QRectF plot = chart()->plotArea();
  const auto bars = static_cast<double>(activity_.bars.size());
  if (bars == 0 || !plot.contains(point)) {
    QToolTip::hideText();
    return true;
  }
  const double slot = plot.width() / bars;
  const int bar =
      std::min(static_cast<int>((point.x() - plot.left()) / slot), static_cast<int>(bars) - 1);
  const QRectF column(plot.left() + slot * bar, plot.top(), slot, plot.height());
  const QRect shown = mapFromScene(chart()->mapToScene(column)).boundingRect();
  QToolTip::showText(help->globalPos(), BarText(bar), viewport(), shown);
  return true;
}

void ActivityChart::Show(Activity activity, const QString& whose) {
  activity_ = std::move(activity);
  QList<qreal> downloads, uploads;
  QStringList labels;
  std::size_t highest = 0;
  for (const ActivityBar& bar : activity_.bars) {
    downloads << static_cast<qreal>(bar.downloads);
    uploads << static_cast<qreal>(bar.uploads);
    labels << Label(bar);
    highest = std::max({highest, bar.downloads, bar.uploads});
  }
  const double interval = TickInterval(highest);
  const double top = std::max(1.0, std::ceil(static_cast<double>(highest) / interval)) * interval;
  if (counts_->tickInterval() != interval || counts_->max() != top) {
    counts_->setTickInterval(interval);
    counts_->setRange(0, top);
  }
  // The same bars under the same labels (rows arrived, say): only the counts that moved change,
  // and the axes stay, so the chart's layout is not worked out again.
  if (labels == bars_->categories()) {
    for (int bar = 0; bar < downloads_->count(); ++bar) {
      if (downloads_->at(bar) != downloads[bar])
        downloads_->replace(bar, downloads[bar]);
      if (uploads_->at(bar) != uploads[bar])
        uploads_->replace(bar, uploads[bar]);
    }
    description_ = Describe(&ShortDate, whose);
    setAccessibleDescription(Describe(&IsoDay, whose));
    return;
  }
  downloads_->remove(0, downloads_->count());
  downloads_->append(downloads);
  uploads_->remove(0, uploads_->count());
  uploads_->append(uploads);
  bars_->clear();
  bars_->append(labels);

  for (QGraphicsSimpleTextItem* item : labels_)
    delete item;
  labels_.clear();
  for (const QString& label : labels) {
    auto* item = new QGraphicsSimpleTextItem(label, chart());
    item->setFont(font());
    item->setBrush(counts_->labelsBrush());
    labels_.push_back(item);
  }
  PlaceLabels();

  description_ = Describe(&ShortDate, whose);
  setAccessibleDescription(Describe(&IsoDay, whose));
}

void ActivityChart::changeEvent(QEvent* event) {
  QChartView::changeEvent(event);
  if (event->type() == QEvent::FontChange)
    UseFont();
  if (event->type() == QEvent::PaletteChange)
    UsePalette();
}

// The window's colours rather than the chart theme's white, so a dark desktop gets a dark chart.
void ActivityChart::UsePalette() {
  const QPalette& colours = palette();
  const QColor text = colours.color(QPalette::Text);
  const QColor grid = colours.color(QPalette::Mid);
  setBackgroundBrush(colours.color(QPalette::Base));
  chart()->setBackgroundBrush(colours.color(QPalette::Base));
  chart()->legend()->setLabelColor(text);
  for (QAbstractAxis* axis :
       {static_cast<QAbstractAxis*>(bars_), static_cast<QAbstractAxis*>(counts_)}) {
    axis->setLabelsColor(text);
    axis->setLinePenColor(grid);
    axis->setGridLineColor(grid);
  }
  for (QGraphicsSimpleTextItem* item : labels_)
    item->setBrush(text);
}

// The window's font rather than the chart theme's, with room below the plot for the labels.
void ActivityChart::UseFont() {
  chart()->legend()->setFont(font());
  counts_->setLabelsFont(font());
  for (QGraphicsSimpleTextItem* item : labels_)
    item->setFont(font());
  const int labelHeight = static_cast<int>(std::ceil(QFontMetricsF(font()).height()));
  chart()->setMargins(QMargins(6, 6, 12, 6 + labelHeight));
  PlaceLabels();
}

// Labels centred under their bars, every few bars so that neighbours keep a gap of two
// characters; none reaches past the chart's edges.
void ActivityChart::PlaceLabels() {
  const QRectF plot = chart()->plotArea();
  if (labels_.empty() || plot.width() <= 0)
    return;
  const double slot = plot.width() / static_cast<double>(labels_.size());
  double widest = 0;
  for (const QGraphicsSimpleTextItem* item : labels_)
    widest = std::max(widest, item->boundingRect().width());
  const double gap = 2 * QFontMetricsF(font()).averageCharWidth();
  const auto every = static_cast<std::size_t>(std::max(1.0, std::ceil((widest + gap) / slot)));
  const double right = chart()->size().width();
  for (std::size_t bar = 0; bar < labels_.size(); ++bar) {
    QGraphicsSimpleTextItem* item = labels_[bar];
    const double width = item->boundingRect().width();
    const double centre = plot.left() + slot * (static_cast<double>(bar) + 0.5);
    item->setPos(std::clamp(centre - width / 2, 0.0, std::max(0.0, right - width)),
                 plot.bottom() + 4);
    item->setVisible(bar % every == 0);
  }
}

QString ActivityChart::Label(const ActivityBar& bar) const {
  const QDate first = ToQDate(bar.firstDay);
  switch (activity_.step) {
    case ActivityStep::Day:
    case ActivityStep::Week:
      return ShortDate(bar.firstDay);
    case ActivityStep::Month:
      return QLocale().toString(first, QStringLiteral("MMM yyyy"));
    case ActivityStep::Year:
      break;
  }
  return QString::number(first.year());
}

QString ActivityChart::BarText(int bar) const {
  if (bar < 0 || static_cast<std::size_t>(bar) >= activity_.bars.size())
    return {};
  const ActivityBar& shown = activity_.bars[static_cast<std::size_t>(bar)];
  const QDate first = ToQDate(shown.firstDay);
  const QLocale locale;
  QString dates;
  switch (activity_.step) {
    case ActivityStep::Day:
      dates = locale.dayName(first.dayOfWeek()) + QStringLiteral(", ") + ShortDate(shown.firstDay);
      break;
    case ActivityStep::Week:
      dates = tr("%1 to %2")
                  .arg(ShortDate(shown.firstDay),
                       ShortDate(LastDayOfBar(activity_.step, shown.firstDay)));
      break;
    case ActivityStep::Month:
      dates = locale.toString(first, QStringLiteral("MMMM yyyy"));
      break;
    case ActivityStep::Year:
      dates = QString::number(first.year());
      break;
  }
  return tr("%1\nDownloads: %2\nUploads: %3").arg(dates).arg(shown.downloads).arg(shown.uploads);
}

QStringList ActivityChart::ShownLabels() const {
  QStringList shown;
  for (const QGraphicsSimpleTextItem* item : labels_)
    shown << (item->isVisible() ? item->text() : QString());
  return shown;
}

QString ActivityChart::Describe(QString (*day)(std::int64_t), const QString& whose) const {
  if (activity_.bars.empty())
    return tr("No dated transfers to show");
  static const char* const steps[] = {QT_TR_NOOP("per day"), QT_TR_NOOP("per week"),
                                      QT_TR_NOOP("per month"), QT_TR_NOOP("per year")};
  const std::int64_t first = activity_.bars.front().firstDay;
  const std::int64_t last = LastDayOfBar(activity_.step, activity_.bars.back().firstDay);
  return tr("Downloads and uploads %1, %2 to %3, of %4")
      .arg(tr(steps[static_cast<int>(activity_.step)]), day(first), day(last), whose);
}

}  // namespace quorvane
