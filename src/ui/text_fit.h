// Texts shortened to the room they get, whatever the font and the screen: they lose their
// middle with "…" rather than being cut at an edge, and show all of themselves on hover.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLineEdit>
#include <QString>

class QFontMetrics;

// APath in AWidth pixels: whole when it fits; otherwise the start of its folder, "…" and the
// file name; a name too long even for that loses its own middle.
QString ElidePath(const QFontMetrics &AMetrics, const QString &APath, int AWidth);

// ALine's parts (apart by ", "), as many from the first as fit in AWidth; the first shortened
// with "…" when not even it fits. The other parts show whole or not at all.
QString FitParts(const QFontMetrics &AMetrics, const QString &ALine, int AWidth);

// The format line (AName followed by ",  <rate>kbps,  <size>") in AWidth pixels: the format's
// name shortens first, then goes; the bit rate is never cut inside its number, and the size
// goes before it does.
QString ElideFormatLine(const QFontMetrics &AMetrics, const QString &ALine, const QString &AName,
                        int AWidth);

// A one-line label that loses the middle of a text too long for it, keeping its start and its
// end (on the status line: the file's name is shortened, "(1 of 3) — about 37 s left" stays).
// The whole text is its tooltip while it is shortened. It never widens the window. A sentence
// without a path (a hint) is never cut: it wraps onto a further line.
class TElidedLabel : public QFrame {
  Q_OBJECT

public:
  explicit TElidedLabel(QWidget *AParent = nullptr);
  void setText(const QString &AText);
  const QString &text() const { return FText; }
  // What is shown of the text at the present width.
  QString ShownText() const;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  void paintEvent(QPaintEvent *AEvent) override;
  void resizeEvent(QResizeEvent *AEvent) override;
  void changeEvent(QEvent *AEvent) override;

private:
  void UpdateToolTip();
  bool Wraps() const;
  void UpdateHeight();
  QString FText;
};

// A read-only field for a path: while it has not the focus it shows the start of the folder,
// "…" and the file name; with the focus, the whole path to select and copy. The whole path is
// its tooltip.
class TPathField : public QLineEdit {
  Q_OBJECT

public:
  explicit TPathField(QWidget *AParent = nullptr);
  QString ShownText() const;

protected:
  void paintEvent(QPaintEvent *AEvent) override;

private:
  QRect TextRect() const;
};

// A list whose shown choice loses its end with "…" when the box is narrower than the choice,
// which is then its tooltip; the popup stays as wide as the longest entry. Its narrowest is
// the room of AShortest (in the present font), as wide as the choices, set by SetShortest.
class TElidedComboBox : public QComboBox {
  Q_OBJECT

public:
  explicit TElidedComboBox(QWidget *AParent = nullptr);
  QString ShownText() const;
  void SetShortest(const QString &AShortest);
  QSize minimumSizeHint() const override;
  void showPopup() override;

protected:
  void paintEvent(QPaintEvent *AEvent) override;
  void resizeEvent(QResizeEvent *AEvent) override;
  // The wheel over a box in a scrolling list scrolls the list; it changes the choice only
  // while the box has the focus.
  void wheelEvent(QWheelEvent *AEvent) override;

private:
  void UpdateToolTip();
  QString FShortest;
};
