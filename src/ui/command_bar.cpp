#include "ui/command_bar.h"

#include <QAction>
#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

namespace {

constexpr int Margin = 2;    // around the buttons
constexpr int Spacing = 4;   // between buttons, and between rows
constexpr int GroupGap = 13; // between groups; the line sits in its middle

} // namespace

TCommandBar::TCommandBar(QSize AMinButton, QWidget *AParent)
    : QWidget(AParent), FMinButton(AMinButton) {
  // Not Fixed: that would hold the bar to the height of one row.
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

QAction *TCommandBar::AddCommand(const QString &ACaption, const QIcon &AIcon, const QString &AHint,
                                 std::function<void()> AHandler) {
  auto *action = new QAction(AIcon, ACaption, this);
  action->setToolTip(AHint.isEmpty() ? ACaption : AHint);
  connect(action, &QAction::triggered, this, [handler = std::move(AHandler)] { handler(); });
  auto *button = new QToolButton(this);
  button->setDefaultAction(action); // its shortcut works anywhere in the window
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  const int icon = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
  button->setIconSize(QSize(icon, icon));
  button->setAutoRaise(false);          // drawn as buttons, as a row of commands should be
  button->setFocusPolicy(Qt::TabFocus); // and reached with Tab like buttons
  button->show();
  FEntries.push_back({action, button, FNextStartsGroup && !FEntries.empty()});
  FNextStartsGroup = false;
  updateGeometry();
  return action;
}

void TCommandBar::SetShortcut(QAction *AAction, const QKeySequence &AKey) {
  AAction->setShortcut(AKey);
  AAction->setToolTip(
      tr("%1 (%2)").arg(AAction->toolTip(), AKey.toString(QKeySequence::NativeText)));
}

void TCommandBar::AddSeparator() { FNextStartsGroup = true; }

QToolButton *TCommandBar::widgetForAction(const QAction *AAction) const {
  for (const TEntry &entry : FEntries)
    if (entry.Action == AAction)
      return entry.Button;
  return nullptr;
}

QSize TCommandBar::ButtonSize(const TEntry &AEntry) const {
  return AEntry.Button->sizeHint().expandedTo(FMinButton);
}

int TCommandBar::Arrange(int AWidth, bool AApply) {
  int rowHeight = 0;
  for (const TEntry &entry : FEntries)
    rowHeight = std::max(rowHeight, ButtonSize(entry).height());
  if (AApply)
    FSeparators.clear();
  int x = Margin, y = Margin;
  for (size_t i = 0; i < FEntries.size(); ++i) {
    const TEntry &entry = FEntries[i];
    const QSize size = ButtonSize(entry);
    int gap = x > Margin ? (entry.GroupStart ? GroupGap : Spacing) : 0;
    // A group that fits on a row of its own rather than where the last one ended starts one.
    int needed = size.width();
    if (entry.GroupStart)
      for (size_t j = i + 1; j < FEntries.size() && !FEntries[j].GroupStart; ++j)
        needed += Spacing + ButtonSize(FEntries[j]).width();
    if (needed > AWidth - 2 * Margin)
      needed = size.width();
    // A button that would reach past the edge begins the next row; the first of a row is
    // placed whatever its width, the bar cannot get narrower than it.
    if (x > Margin && x + gap + needed > AWidth - Margin) {
      x = Margin;
      y += rowHeight + Spacing;
      gap = 0;
    }
    if (AApply) {
      if (gap == GroupGap)
        FSeparators.emplace_back(x + gap / 2, y + 2, x + gap / 2, y + rowHeight - 3);
      entry.Button->setGeometry(x + gap, y, size.width(), rowHeight);
    }
    x += gap + size.width();
  }
  return y + rowHeight + Margin;
}

int TCommandBar::heightForWidth(int AWidth) const {
  return const_cast<TCommandBar *>(this)->Arrange(AWidth, false);
}

QSize TCommandBar::sizeHint() const {
  int width = 2 * Margin;
  bool first = true;
  for (const TEntry &entry : FEntries) {
    width += ButtonSize(entry).width() + (first ? 0 : entry.GroupStart ? GroupGap : Spacing);
    first = false;
  }
  return {width, heightForWidth(width)};
}

QSize TCommandBar::minimumSizeHint() const {
  int width = 0;
  for (const TEntry &entry : FEntries)
    width = std::max(width, ButtonSize(entry).width());
  return {width + 2 * Margin, heightForWidth(sizeHint().width())};
}

bool TCommandBar::event(QEvent *AEvent) {
  // Another font or style changes what the buttons need.
  if (AEvent->type() == QEvent::LayoutRequest || AEvent->type() == QEvent::FontChange ||
      AEvent->type() == QEvent::StyleChange) {
    updateGeometry();
    Arrange(width(), true);
    update();
  }
  return QWidget::event(AEvent);
}

void TCommandBar::resizeEvent(QResizeEvent *AEvent) {
  Arrange(width(), true);
  QWidget::resizeEvent(AEvent);
}

void TCommandBar::paintEvent(QPaintEvent *) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::Mid));
  for (const QLine &line : FSeparators)
    painter.drawLine(line);
}
