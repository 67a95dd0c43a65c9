#include "app/Controls.h"

#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

namespace quorvane {

namespace {
const QColor kLineGrey(128, 128, 128);
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
  auto* label = Place(new QLabel(parent), name, geometry);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setLineWidth(1);
  label->setMargin(1);
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  label->setAccessibleDescription(meaning);
  return label;
}

QProgressBar* Bar(QWidget* parent, const char* name, QRect geometry, Qt::Orientation orientation) {
  auto* bar = Place(new QProgressBar(parent), name, geometry);
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

void Line(QWidget* parent, const char* name, int x1, int y1, int x2, int y2) {
  auto* line = Place(new QFrame(parent), name,
                     QRect(Px(x1), Px(y1), std::max(1, Px(x2 - x1)), std::max(1, Px(y2 - y1))));
  line->setFrameShape(QFrame::NoFrame);
  line->setAutoFillBackground(true);
  Fill(line, QPalette::Window, kLineGrey);
}

}  // namespace quorvane
