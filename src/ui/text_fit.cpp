#include "ui/text_fit.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QStylePainter>
#include <algorithm>
#include <QWheelEvent>

namespace {

const QString Ellipsis = QStringLiteral("\u2026");

} // namespace

QString ElidePath(const QFontMetrics &AMetrics, const QString &APath, int AWidth) {
  if (AMetrics.horizontalAdvance(APath) <= AWidth)
    return APath;
  const int slash = APath.lastIndexOf(QLatin1Char('/'));
  if (slash > 0) {
    const QString name = APath.mid(slash); // with its "/", which says a folder went before
    const int folderWidth = AWidth - AMetrics.horizontalAdvance(name);
    // Some of the folder's start is worth showing only if more than the "…" fits.
    if (folderWidth >=
        AMetrics.horizontalAdvance(APath.left(std::min<qsizetype>(slash, 3)) + Ellipsis))
      return AMetrics.elidedText(APath.left(slash), Qt::ElideRight, folderWidth) + name;
    // Too long a name: the room is its own, and it loses its middle.
    const QString folderMark = Ellipsis + QLatin1Char('/');
    const int nameWidth = AWidth - AMetrics.horizontalAdvance(folderMark);
    if (nameWidth >= AMetrics.horizontalAdvance(QStringLiteral("mm") + Ellipsis))
      return folderMark + AMetrics.elidedText(name.mid(1), Qt::ElideMiddle, nameWidth);
  }
  return AMetrics.elidedText(APath, Qt::ElideMiddle, AWidth);
}

QString FitParts(const QFontMetrics &AMetrics, const QString &ALine, int AWidth) {
  const QStringList parts = ALine.split(QStringLiteral(", "));
  QString shown = parts.first();
  for (int i = 1; i < parts.size(); ++i) {
    const QString longer = shown + QStringLiteral(", ") + parts[i];
    if (AMetrics.horizontalAdvance(longer) > AWidth)
      break;
    shown = longer;
  }
  return AMetrics.elidedText(shown, Qt::ElideRight, AWidth);
}

QString ElideFormatLine(const QFontMetrics &AMetrics, const QString &ALine, const QString &AName,
                        int AWidth) {
  if (AMetrics.horizontalAdvance(ALine) <= AWidth)
    return ALine;
  if (!ALine.startsWith(AName))
    return AMetrics.elidedText(ALine, Qt::ElideRight, AWidth);
  const QString rest = ALine.mid(AName.size()); // ",  124kbps,  640x480"
  const int nameWidth = AWidth - AMetrics.horizontalAdvance(rest);
  if (nameWidth >= AMetrics.horizontalAdvance(QStringLiteral("m") + Ellipsis))
    return AMetrics.elidedText(AName, Qt::ElideRight, nameWidth) + rest;
  // Without the name: "… 124kbps,  640x480"; then the size shortens from its end, and goes. A
  // blank after the "…" shows that no digit of the rate is missing.
  int start = 0;
  while (start < rest.size() && (rest[start] == QLatin1Char(',') || rest[start].isSpace()))
    ++start;
  const QString withoutName = Ellipsis + QLatin1Char(' ') + rest.mid(start);
  if (AMetrics.horizontalAdvance(withoutName) <= AWidth)
    return withoutName;
  const int sizeAt = withoutName.indexOf(QLatin1Char(','));
  if (sizeAt < 0)
    return AMetrics.elidedText(withoutName, Qt::ElideRight, AWidth);
  const QString rate = withoutName.left(sizeAt);
  const int sizeWidth = AWidth - AMetrics.horizontalAdvance(rate);
  if (sizeWidth < AMetrics.horizontalAdvance(QStringLiteral(",  m") + Ellipsis))
    return AMetrics.horizontalAdvance(rate) <= AWidth
               ? rate
               : AMetrics.elidedText(rate, Qt::ElideRight, AWidth);
  return rate + AMetrics.elidedText(withoutName.mid(sizeAt), Qt::ElideRight, sizeWidth);
}

TElidedLabel::TElidedLabel(QWidget *AParent) : QFrame(AParent) {
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void TElidedLabel::setText(const QString &AText) {
  if (AText == FText)
    return;
  FText = AText;
  // A frame has no text of its own for a screen reader: it reads the line as the description.
  setAccessibleDescription(AText);
  UpdateToolTip();
  UpdateHeight();
  updateGeometry();
  update();
}

// A sentence (a hint, a question) holds no file name to shorten: cut in its middle it would
// not make sense, so it takes a further line instead. Paths and names keep to one line.
bool TElidedLabel::Wraps() const {
  // The full stops and marks of Japanese and Chinese end a sentence too.
  static const QString sentenceEnds = QStringLiteral(".?!\u3002\uff1f\uff01");
  return !FText.contains(QLatin1Char('/')) && !FText.isEmpty() &&
         sentenceEnds.contains(FText.back());
}

QString TElidedLabel::ShownText() const {
  if (Wraps())
    return FText;
  return fontMetrics().elidedText(FText, Qt::ElideMiddle, contentsRect().width());
}

void TElidedLabel::UpdateHeight() {
  const QFontMetrics metrics = fontMetrics();
  int height = metrics.height();
  if (Wraps() && contentsRect().width() > 0)
    height = std::max(
        height,
        metrics.boundingRect(QRect(0, 0, contentsRect().width(), 100000), Qt::TextWordWrap, FText)
            .height());
  const int wanted = height + frameWidth() * 2;
  if (minimumHeight() != wanted)
    setMinimumHeight(wanted);
}

QSize TElidedLabel::sizeHint() const {
  const QFontMetrics metrics = fontMetrics();
  return {metrics.horizontalAdvance(FText) + frameWidth() * 2, metrics.height() + frameWidth() * 2};
}

QSize TElidedLabel::minimumSizeHint() const {
  const QFontMetrics metrics = fontMetrics();
  return {metrics.horizontalAdvance(Ellipsis) * 3, metrics.height() + frameWidth() * 2};
}

void TElidedLabel::paintEvent(QPaintEvent *AEvent) {
  QFrame::paintEvent(AEvent);
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(contentsRect(),
                   Qt::AlignLeft | Qt::AlignVCenter | (Wraps() ? Qt::TextWordWrap : 0),
                   ShownText());
}

void TElidedLabel::resizeEvent(QResizeEvent *AEvent) {
  QFrame::resizeEvent(AEvent);
  UpdateToolTip();
  UpdateHeight();
}

void TElidedLabel::changeEvent(QEvent *AEvent) {
  QFrame::changeEvent(AEvent);
  if (AEvent->type() == QEvent::FontChange) {
    UpdateToolTip();
    UpdateHeight();
  }
}

void TElidedLabel::UpdateToolTip() { setToolTip(ShownText() == FText ? QString() : FText); }

TPathField::TPathField(QWidget *AParent) : QLineEdit(AParent) {}

// Where QLineEdit draws its text: the style's contents rectangle less the text margins and the
// field's own two pixels on each side.
QRect TPathField::TextRect() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &panel, this);
  return contents.marginsRemoved(textMargins()).adjusted(2, 0, -2, 0);
}

QString TPathField::ShownText() const {
  return ElidePath(fontMetrics(), text(), TextRect().width());
}

void TPathField::paintEvent(QPaintEvent *AEvent) {
  const QString shown = ShownText();
  if (hasFocus() || shown == text()) {
    QLineEdit::paintEvent(AEvent);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  painter.drawText(TextRect(), Qt::AlignLeft | Qt::AlignVCenter, shown);
}

TElidedComboBox::TElidedComboBox(QWidget *AParent) : QComboBox(AParent) {
  // Not focused by the wheel either, so that scrolling past it never starts changing it.
  setFocusPolicy(Qt::StrongFocus);
  connect(this, &QComboBox::currentTextChanged, this, [this] { UpdateToolTip(); });
}

void TElidedComboBox::wheelEvent(QWheelEvent *AEvent) {
  if (hasFocus()) {
    QComboBox::wheelEvent(AEvent);
    return;
  }
  // Handed up to the first parent that takes it (the list, which scrolls), as an ignored
  // event would be; done here so that it also holds for events the program sends itself.
  for (QWidget *parent = parentWidget(); parent; parent = parent->parentWidget()) {
    AEvent->accept();
    QCoreApplication::sendEvent(parent, AEvent);
    if (AEvent->isAccepted())
      return;
  }
  AEvent->ignore();
}

QString TElidedComboBox::ShownText() const {
  QStyleOptionComboBox option;
  initStyleOption(&option);
  // The label's room as the style draws it, a pixel in on each side.
  const int room =
      style()
          ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this)
          .width() -
      2;
  return fontMetrics().elidedText(currentText(), Qt::ElideRight, room);
}

void TElidedComboBox::SetShortest(const QString &AShortest) {
  FShortest = AShortest;
  updateGeometry();
}

QSize TElidedComboBox::minimumSizeHint() const {
  const QSize whole = QComboBox::minimumSizeHint();
  if (FShortest.isEmpty())
    return whole;
  QStyleOptionComboBox option;
  initStyleOption(&option);
  const QSize text(fontMetrics().horizontalAdvance(FShortest), fontMetrics().height());
  const int shortest = style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this).width();
  return {std::min(whole.width(), shortest), whole.height()};
}

void TElidedComboBox::showPopup() {
  view()->setMinimumWidth(view()->sizeHintForColumn(0) + 2 * view()->frameWidth());
  QComboBox::showPopup();
}

void TElidedComboBox::paintEvent(QPaintEvent *) {
  QStylePainter painter(this);
  painter.setPen(palette().color(QPalette::Text));
  QStyleOptionComboBox option;
  initStyleOption(&option);
  painter.drawComplexControl(QStyle::CC_ComboBox, option);
  option.currentText = ShownText();
  painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

void TElidedComboBox::resizeEvent(QResizeEvent *AEvent) {
  QComboBox::resizeEvent(AEvent);
  UpdateToolTip();
}

void TElidedComboBox::UpdateToolTip() {
  setToolTip(ShownText() == currentText() ? QString() : currentText());
}
