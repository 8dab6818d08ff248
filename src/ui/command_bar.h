// TCommandBar: the Convert page's row of command buttons. Each button is as wide as its icon and
// caption need (never narrower than the design's button); when the row is too narrow for all of
// them, the bar wraps onto a further row instead of hiding buttons behind an overflow mark.
#pragma once

#include <QIcon>
#include <QKeySequence>
#include <QWidget>
#include <functional>
#include <vector>

class QAction;
class QToolButton;

class TCommandBar : public QWidget {
  Q_OBJECT

public:
  // AMinButton: the narrowest and lowest a button may be.
  TCommandBar(QSize AMinButton, QWidget *AParent = nullptr);

  // A button for a new action; AHint empty: the caption is the tooltip.
  QAction *AddCommand(const QString &ACaption, const QIcon &AIcon, const QString &AHint,
                      std::function<void()> AHandler);
  // AKey triggers AAction from anywhere in the window; the tooltip names the key.
  void SetShortcut(QAction *AAction, const QKeySequence &AKey);
  // The next command starts a new group, set apart by a line where it shares its row.
  void AddSeparator();
  QToolButton *widgetForAction(const QAction *AAction) const;

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int AWidth) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

protected:
  bool event(QEvent *AEvent) override;
  void resizeEvent(QResizeEvent *AEvent) override;
  void paintEvent(QPaintEvent *AEvent) override;

private:
  struct TEntry {
    QAction *Action;
    QToolButton *Button;
    bool GroupStart;
  };
  QSize ButtonSize(const TEntry &AEntry) const;
  // Places the buttons for AWidth (only computes when AApply is false); returns the height.
  int Arrange(int AWidth, bool AApply);

  QSize FMinButton;
  std::vector<TEntry> FEntries;
  bool FNextStartsGroup = false;
  std::vector<QLine> FSeparators;
};
