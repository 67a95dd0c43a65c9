#pragma once

#include <optional>

// Building blocks shared by every window: the twips the windows were designed in, and controls
// named, placed and dressed the same way everywhere.

#include <QAbstractItemView>
#include <QBoxLayout>
#include <QColor>
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QPalette>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <Qt>
#include <vector>

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class QWidget;

namespace quorvane {

// The windows were designed in twips: 1440 to the inch, 15 to a pixel at 96 dots per inch. Qt
// scales pixels for high-DPI screens; fonts follow in points.
inline constexpr double kTwipsPerPixel = 15;

int Px(double twips);
QRect TwipsRect(int left, int top, int width, int height);
QSize TwipsSize(int width, int height);

// The dialog font the windows were drawn for, or the nearest sans serif of the same metrics.
extern const QStringList kDialogFamilies;
QFont FontOf(const QStringList& families, double points);

// Gives a control its control name (objectName), and with Place its designed geometry.
template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}
template <typename Widget>
Widget* Place(Widget* widget, const char* name, QRect geometry) {
  Named(widget, name)->setGeometry(geometry);
  return widget;
}

// A push button; with `enterPresses`, Enter presses it while it has the focus. Pressed, it takes
// the focus.
QPushButton* Button(QWidget* parent, const char* name, const QString& caption,
                    bool enterPresses = true);
QPushButton* Button(QWidget* parent, const char* name, const QString& caption, QRect geometry);

// A caption label naming the control beside it: placed in its designed box, it grows to fit the
// platform's font, keeping the edge given by `alignment` next to its control.
QLabel* Caption(QWidget* parent, const char* name, const QString& text, QRect geometry,
                Qt::Alignment alignment = Qt::AlignRight);

// A report figure: bordered, right-aligned, empty until a report fills it. A screen reader reads
// its figure (nothing while it is empty) and describes it by `meaning`.
QLabel* Value(QWidget* parent, const char* name, const QString& meaning, QRect geometry);

// A hidden progress bar from 0 to 100 without text, named `meaning` for screen readers.
QProgressBar* Bar(QWidget* parent, const char* name, const QString& meaning, QRect geometry,
                  Qt::Orientation orientation = Qt::Horizontal);

// A group frame with one-pixel grey rules painted on it: dividers that are no controls, so screen
// readers do not list them.
class RuledFrame : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;
  // A rule between two points, in twips.
  void AddRule(int x1, int y1, int x2, int y2);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<QRect> rules_;
};

// Runs a modal dialog. Once it has closed, the control of the owner window that had the keyboard
// focus gets it back, with its focus ring drawn and assistive technology told.
int ExecModal(QDialog& dialog);

void Fill(QWidget* widget, QPalette::ColorRole role, const QColor& color);

// A box layout with `spacing` twips between its items.
template <typename Box>
Box* Spaced(Box* box, int spacing) {
  box->setSpacing(Px(spacing));
  return box;
}
// The column that lays out a whole window or page, `margin` twips from its edges.
QVBoxLayout* OuterColumn(QWidget* owner, int margin, int spacing);

// A table view read as a list of whole rows, never edited: no grid, one line of text a row (and
// `rowPadding` pixels), fixed columns, and Tab leaving it as it leaves every other control.
void DressAsList(QTableView* view, QAbstractItemView::SelectionMode selection, int rowPadding);
// A new row header, dressed as DressAsList dresses it, in place of the list's own, which keeps room
// for as many rows as it ever had (8 bytes a row) after they are gone.
void FreshRowHeader(QTableView* view, int rowPadding);

// The widest a window that belongs to its owner's window (or stands alone) opens: its screen's
// room, less the frame the window manager gives that owner.
int WidthOnScreen(const QWidget& window);

// Where a window of `size` goes beside `anchor` (a window's frame) on `screen`: to its right, else
// to its left, top edges level and inside the screen; nothing when neither side has room.
std::optional<QPoint> BesideOnScreen(const QRect& screen, const QRect& anchor, const QSize& size);

// A list box of names. Its list is as wide as the longest name, within the screen (Qt keeps it
// there); a name longer than the screen is shortened in its middle, so both its ends show.
class NameList : public QComboBox {
  Q_OBJECT

 public:
  explicit NameList(QWidget* parent = nullptr);
};

// A name or path as it shows inside a sentence: control characters and line breaks as their
// visible pictures, direction overrides as their codes, and, when it holds right-to-left letters,
// isolated from the words around it: a name can neither break a question into lines, nor show its
// letters in another order, nor turn the question's rest around.
QString ShownName(const QString& name);
// A tooltip showing `text` exactly as written: Qt reads a tooltip that looks like markup as markup,
// so the text is escaped into markup of its own; its lines stay lines.
QString PlainToolTip(const QString& text);

}  // namespace quorvane
