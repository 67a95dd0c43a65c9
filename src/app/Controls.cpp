#include "app/Controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTextDocument>
#include <algorithm>

namespace quorvane {

namespace {

const QColor kLineGrey(128, 128, 128);

// A figure's label. Its own class lets its accessible interface be ours: Qt's names an empty label
// after its group frame ("Log Analysis"), where a screen reader should read nothing.
class ValueLabel : public QLabel {
  Q_OBJECT

 public:
  using QLabel::QLabel;
};

class ValueAccessible : public QAccessibleWidget {
 public:
  explicit ValueAccessible(QWidget* label) : QAccessibleWidget(label, QAccessible::StaticText) {}
  QString text(QAccessible::Text type) const override {
    if (type == QAccessible::Name)
      return static_cast<const QLabel*>(widget())->text();
    return QAccessibleWidget::text(type);
  }
};

QAccessibleInterface* ValueAccessibleFactory(const QString& className, QObject* object) {
  if (className == QLatin1String(ValueLabel::staticMetaObject.className()) &&
      object->isWidgetType()) {
    return new ValueAccessible(static_cast<QWidget*>(object));
  }
  return nullptr;
}

}  // namespace

const QStringList kDialogFamilies = {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans",
                                     "Arimo",         "Nimbus Sans",          "Arial",
                                     "Helvetica"};

int Px(double twips) {
  return qRound(twips / kTwipsPerPixel);
}

QRect TwipsRect(int left, int top, int width, int height) {
  return {Px(left), Px(top), Px(width), Px(height)};
}

QSize TwipsSize(int width, int height) {
  return {Px(width), Px(height)};
}

QFont FontOf(const QStringList& families, double points) {
  QFont font;
  font.setFamilies(families);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSizeF(points);
  return font;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, bool enterPresses) {
  auto* button = Named(new QPushButton(caption, parent), name);
  button->setAutoDefault(enterPresses);
  // A pressed button takes the focus however it was pressed (an access key leaves it elsewhere),
  // so that the dialogs its command opens give the focus back to it.
  QObject::connect(button, &QPushButton::clicked, button,
                   [button] { button->setFocus(Qt::ShortcutFocusReason); });
  return button;
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption, QRect geometry) {
  QPushButton* button = Button(parent, name, caption);
  button->setGeometry(geometry);
  return button;
}

QLabel* Caption(QWidget* parent, const char* name, const QString& text, QRect geometry,
                Qt::Alignment alignment) {
  auto* label = Place(new QLabel(text, parent), name, geometry);
  label->setAlignment(alignment | Qt::AlignVCenter);
  const QSize needed = label->sizeHint();
  QRect fitted = geometry;
  if (needed.width() > geometry.width()) {
    if (alignment & Qt::AlignRight) {
      fitted.setLeft(geometry.right() + 1 - needed.width());
    } else {
      fitted.setWidth(needed.width());
    }
  }
  fitted.setHeight(std::max(geometry.height(), needed.height()));
  label->setGeometry(fitted);
  return label;
}

QLabel* Value(QWidget* parent, const char* name, const QString& meaning, QRect geometry) {
  static const bool factoryInstalled = [] {
    QAccessible::installFactory(ValueAccessibleFactory);
    return true;
  }();
  (void)factoryInstalled;
  auto* label = Place(new ValueLabel(parent), name, geometry);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setLineWidth(1);
  label->setMargin(1);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setAccessibleDescription(meaning);
  return label;
}

QProgressBar* Bar(QWidget* parent, const char* name, const QString& meaning, QRect geometry,
                  Qt::Orientation orientation) {
  auto* bar = Place(new QProgressBar(parent), name, geometry);
  bar->setAccessibleName(meaning);
  bar->setOrientation(orientation);
  bar->setRange(0, 100);
  bar->setValue(0);
  bar->setTextVisible(false);
  bar->setVisible(false);
  return bar;
}

void Fill(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(role, color);
  widget->setPalette(palette);
}

QVBoxLayout* OuterColumn(QWidget* owner, int margin, int spacing) {
  auto* column = Spaced(new QVBoxLayout(owner), spacing);
  column->setContentsMargins(Px(margin), Px(margin), Px(margin), Px(margin));
  return column;
}

namespace {

// The row header: hidden, every row as high as the font and the padding.
void DressRows(QTableView* view, int rowPadding) {
  QHeaderView* rows = view->verticalHeader();
  rows->hide();
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setMinimumSectionSize(1);
  rows->setDefaultSectionSize(view->fontMetrics().height() + rowPadding);
}

}  // namespace

void DressAsList(QTableView* view, QAbstractItemView::SelectionMode selection, int rowPadding) {
  view->setShowGrid(false);
  view->setWordWrap(false);
  view->setCornerButtonEnabled(false);
  view->setTabKeyNavigation(false);
  view->setSelectionMode(selection);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setEditTriggers(QAbstractItemView::NoEditTriggers);
  DressRows(view, rowPadding);
  QHeaderView* header = view->horizontalHeader();
  header->setSectionsMovable(false);
  header->setHighlightSections(false);
}

void FreshRowHeader(QTableView* view, int rowPadding) {
  view->setVerticalHeader(new QHeaderView(Qt::Vertical, view));  // the old one is deleted
  DressRows(view, rowPadding);
}

void RuledFrame::AddRule(int x1, int y1, int x2, int y2) {
  rules_.emplace_back(Px(x1), Px(y1), std::max(1, Px(x2 - x1)), std::max(1, Px(y2 - y1)));
  update();
}

void RuledFrame::paintEvent(QPaintEvent* event) {
  QGroupBox::paintEvent(event);
  QPainter painter(this);
  // A rule stops inside the frame when the frame is made narrower than designed.
  const QRect inside = rect().adjusted(0, 0, -Px(135), 0);
  for (const QRect& rule : rules_)
    painter.fillRect(rule.intersected(inside), kLineGrey);
}

namespace {

// Gives the focus to `control`, drawn as keyboard focus, and tells assistive technology.
void GiveFocusBack(QWidget* control) {
  QWidget* window = control->window();
  window->activateWindow();
  // Qt draws the focus ring only after a focus change by keyboard.
  window->setAttribute(Qt::WA_KeyboardFocusChange);
  if (control->hasFocus()) {
    // No change for Qt to report: the closed dialog's controls were the last focus it reported.
    QAccessibleEvent focus(control, QAccessible::Focus);
    QAccessible::updateAccessibility(&focus);
  } else {
    control->setFocus(Qt::OtherFocusReason);
  }
  control->update();
}

}  // namespace

int ExecModal(QDialog& dialog) {
  // The owner window's focus, wherever the application's is: between two dialogs it can still be
  // in the one closed before.
  const QWidget* owner =
      dialog.parentWidget() != nullptr ? dialog.parentWidget()->window() : nullptr;
  const QPointer<QWidget> had =
      owner != nullptr ? owner->focusWidget() : QApplication::focusWidget();
  const int result = dialog.exec();
  if (had != nullptr && had->isVisible() && had->isEnabled())
    GiveFocusBack(had);
  return result;
}

int WidthOnScreen(const QWidget& window) {
  const QWidget* owner =
      window.parentWidget() != nullptr ? window.parentWidget()->window() : &window;
  return window.screen()->availableGeometry().width() -
         (owner->frameGeometry().width() - owner->geometry().width());
}

std::optional<QPoint> BesideOnScreen(const QRect& screen, const QRect& anchor, const QSize& size) {
  const int top = std::clamp(anchor.top(), screen.top(),
                             std::max(screen.top(), screen.bottom() + 1 - size.height()));
  if (screen.right() - anchor.right() >= size.width())
    return QPoint(anchor.right() + 1, top);
  if (anchor.left() - screen.left() >= size.width())
    return QPoint(anchor.left() - size.width(), top);
  return std::nullopt;
}

NameList::NameList(QWidget* parent) : QComboBox(parent) {
  view()->setTextElideMode(Qt::ElideMiddle);
}

QString ShownName(const QString& name) {
  QString shown;
  shown.reserve(name.size() + 2);
  bool isolate = false;
  for (const QChar c : name) {
    const char16_t code = c.unicode();
    switch (c.direction()) {
      case QChar::DirRLE:
      case QChar::DirRLO:
      case QChar::DirLRE:
      case QChar::DirLRO:
      case QChar::DirPDF:
      case QChar::DirRLI:
      case QChar::DirLRI:
      case QChar::DirFSI:
      case QChar::DirPDI:
        // A direction override would show the name's letters in another order than they are
        // (a "gpj.exe" that reads "exe.jpg"): it shows as its code instead.
        shown +=
            QStringLiteral("[U+%1]").arg(static_cast<unsigned>(code), 4, 16, QChar('0')).toUpper();
        continue;
      case QChar::DirR:
      case QChar::DirAL:
        isolate = true;
        break;
      default:
        break;
    }
    if (code < 0x20)
      shown += QChar(0x2400 + code);  // the control pictures: ␀ to ␟
    else if (code == 0x7f)
      shown += QChar(0x2421);  // ␡
    else if (c.category() == QChar::Other_Control)
      shown += QChar::ReplacementCharacter;
    else if (code == 0x2028 || code == 0x2029)
      shown += QChar(0x2424);  // ␤
    else
      shown += c;
  }
  // First strong isolate ... pop directional isolate: right-to-left letters keep their own order
  // without turning the words after them around.
  return isolate ? QChar(0x2068) + shown + QChar(0x2069) : shown;
}

QString PlainToolTip(const QString& text) {
  return text.isEmpty() ? text : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

}  // namespace quorvane

#include "Controls.moc"
