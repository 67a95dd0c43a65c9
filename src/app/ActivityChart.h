#pragma once

#include <QChartView>
#include <QString>
#include <QStringList>
#include <vector>

#include "analysis/Activity.h"

class QBarCategoryAxis;
class QBarSeries;
class QBarSet;
class QGraphicsSimpleTextItem;
class QValueAxis;

namespace quorvane {

// Downloads and uploads side by side, a pair of bars per day, week, month or year. Under the bars
// their first days, as many as fit without overlapping; the tooltip over a pair tells its dates
// and both counts.
class ActivityChart : public QChartView {
  Q_OBJECT

 public:
  explicit ActivityChart(QWidget* parent = nullptr);

  // Shows these bars as the transfers of `whose` ("everyone", a name...), which the description
  // names.
  void Show(Activity activity, const QString& whose);

  const Activity& Shown() const { return activity_; }
  // What the chart shows in a line, dates as the locale writes them; the accessible description
  // says the same with ISO dates.
  const QString& Description() const { return description_; }
  // The label of each bar as shown: a date every few bars, the others empty.
  QStringList ShownLabels() const;

 protected:
  void changeEvent(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  void UseFont();
  void UsePalette();
  void PlaceLabels();
  QString Label(const ActivityBar& bar) const;
  // A bar's dates and counts, as its tooltip shows them.
  QString BarText(int bar) const;
  QString Describe(QString (*day)(std::int64_t), const QString& whose) const;

  QBarSeries* series_;
  QBarSet* downloads_;
  QBarSet* uploads_;
  QBarCategoryAxis* bars_;
  QValueAxis* counts_;
  std::vector<QGraphicsSimpleTextItem*> labels_;  // one per bar, hidden where they would crowd
  Activity activity_;
  QString description_;
};

}  // namespace quorvane
