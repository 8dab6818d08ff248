#include "ui/panel_scroller.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QUrl>
#include <QWheelEvent>
#include <algorithm>
#include <cstdlib>

#include "app/window_rules.h"

namespace {

constexpr int ItemGap = 2;

} // namespace

TPanelScroller::TPanelScroller(QWidget *AParent, int APanelHeight)
    : QWidget(AParent), FPanelHeight(APanelHeight) {
  scrollbarConvertList = new QScrollBar(Qt::Vertical, this);
  scrollbarConvertList->setRange(0, ScrollMax);
  scrollbarConvertList->setSingleStep(1);
  scrollbarConvertList->setPageStep(2);
  connect(scrollbarConvertList, &QScrollBar::valueChanged, this, [this] { LayoutItems(); });
  scrollbarSideways = new QScrollBar(Qt::Horizontal, this);
  scrollbarSideways->setVisible(false);
  setAcceptDrops(true);
  connect(scrollbarSideways, &QScrollBar::valueChanged, this, [this] { LayoutItems(); });
  // Tabbing into a panel scrolled out of sight brings it into view; a click keeps the list still.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *ANow) {
    if (QGuiApplication::mouseButtons() == Qt::NoButton)
      ShowPanelOf(ANow);
  });
}

void TPanelScroller::PlacePanel(QWidget *APanel, int AIndex) {
  APanel->setGeometry(0, AIndex * (FPanelHeight + ItemGap), ItemWidth(), FPanelHeight);
  FMinItemWidth = std::max(FMinItemWidth, APanel->minimumSizeHint().width());
  // Moving the bar lays the panels out.
  if (scrollbarConvertList->value() == ScrollMax)
    LayoutItems();
  else
    scrollbarConvertList->setValue(ScrollMax);
}

void TPanelScroller::ShowPanelOf(QWidget *AWidget) {
  if (!AWidget)
    return;
  QWidget *panel = AWidget;
  while (panel && panel->parentWidget() != this)
    panel = panel->parentWidget();
  int index = Count() - 1;
  while (index >= 0 && PanelAt(index) != panel)
    --index;
  if (index < 0)
    return;
  // Sideways: the focused control itself, when the window is narrower than the panels (a
  // panel focused as a whole stays where it is).
  if (AWidget != panel) {
    const QRect control(AWidget->mapTo(this, QPoint(0, 0)), AWidget->size());
    if (control.right() >= ViewWidth())
      scrollbarSideways->setValue(scrollbarSideways->value() + control.right() + 1 - ViewWidth());
    else if (control.left() < 0)
      scrollbarSideways->setValue(scrollbarSideways->value() + control.left());
  }
  ScrollToPanel(index);
}

void TPanelScroller::ScrollToPanel(int AIndex) {
  const int pitch = FPanelHeight + ItemGap;
  const int clientHeight = ClientHeight();
  const int hidden = Count() * pitch - ItemGap - clientHeight;
  if (hidden <= 0)
    return;
  const int top = AIndex * pitch;
  const int offset =
      ListScrollOffset(Count(), FPanelHeight, ItemGap, clientHeight, scrollbarConvertList->value());
  // Round towards the panel's side.
  if (top < offset)
    scrollbarConvertList->setValue(static_cast<int>(int64_t{top} * ScrollMax / hidden));
  else if (top + FPanelHeight > offset + clientHeight)
    scrollbarConvertList->setValue(std::min<int>(
        ScrollMax, (int64_t{top + FPanelHeight - clientHeight} * ScrollMax + hidden - 1) / hidden));
}

bool TPanelScroller::InSight(const QWidget *APanel) const {
  return APanel->y() < ClientHeight() && APanel->geometry().bottom() >= 0;
}

int TPanelScroller::ViewWidth() const { return std::max(width() - ScrollBarWidth - 1, 0); }

// A window narrower than a panel can be scrolls the panels sideways rather than cutting them.
int TPanelScroller::ItemWidth() const { return std::max(ViewWidth(), FMinItemWidth); }

int TPanelScroller::ClientHeight() const {
  const bool sideways = Count() > 0 && ItemWidth() > ViewWidth();
  return std::max(height() - (sideways ? ScrollBarWidth : 0), 0);
}

void TPanelScroller::LayoutItems() {
  const int clientHeight = ClientHeight();
  const int sideways = Count() == 0 ? 0 : ItemWidth() - ViewWidth();
  scrollbarSideways->setRange(0, sideways);
  scrollbarSideways->setPageStep(std::max(ViewWidth(), 1));
  scrollbarSideways->setSingleStep(20);
  scrollbarSideways->setGeometry(0, clientHeight, ViewWidth(), ScrollBarWidth);
  scrollbarSideways->setVisible(sideways > 0);
  scrollbarConvertList->setGeometry(width() - ScrollBarWidth, 0, ScrollBarWidth, clientHeight);
  // Over the panels: a panel wider than the list reaches under them.
  scrollbarConvertList->raise();
  scrollbarSideways->raise();
  const int pitch = FPanelHeight + ItemGap;
  // The bar's steps follow what is shown: a wheel notch or arrow moves by a few lines, a page
  // by the visible height, in thousandths of what does not fit.
  const int hidden = Count() * pitch - ItemGap - clientHeight;
  if (hidden > 0) {
    scrollbarConvertList->setSingleStep(std::max(1, 20 * ScrollMax / hidden));
    scrollbarConvertList->setPageStep(
        std::max(2, std::min(ScrollMax, clientHeight * ScrollMax / hidden)));
  }
  // Shown only when there is something to scroll; the panels keep its place either way.
  scrollbarConvertList->setVisible(hidden > 0);
  if (Count() == 0)
    return;
  const int offset =
      ListScrollOffset(Count(), FPanelHeight, ItemGap, clientHeight, scrollbarConvertList->value());
  // Only the panels in sight and two either side of them are shown (Tab reaches those next to
  // the view, which then scrolls): a hidden panel costs nothing to move.
  const int margin = 2 * pitch;
  for (int i = 0; i < Count(); ++i) {
    QWidget *item = PanelAt(i);
    const int top = i * pitch - offset;
    const bool near = top + FPanelHeight + margin > 0 && top < clientHeight + margin;
    item->setGeometry(-scrollbarSideways->value(), top, ItemWidth(), FPanelHeight);
    if (item->isHidden() == near)
      item->setVisible(near);
  }
}

void TPanelScroller::resizeEvent(QResizeEvent *AEvent) {
  QWidget::resizeEvent(AEvent);
  LayoutItems();
}

void TPanelScroller::wheelEvent(QWheelEvent *AEvent) {
  const QPoint delta = AEvent->angleDelta();
  const bool sideways = scrollbarSideways->isVisible() && std::abs(delta.x()) > std::abs(delta.y());
  QCoreApplication::sendEvent(sideways ? scrollbarSideways : scrollbarConvertList, AEvent);
}

void TPanelScroller::dragEnterEvent(QDragEnterEvent *AEvent) {
  const QList<QUrl> urls = AEvent->mimeData()->urls();
  if (std::any_of(urls.begin(), urls.end(), [](const QUrl &AUrl) { return AUrl.isLocalFile(); }))
    AEvent->acceptProposedAction();
}

void TPanelScroller::dropEvent(QDropEvent *AEvent) {
  const QList<QUrl> urls = AEvent->mimeData()->urls();
  AEvent->acceptProposedAction();
  QStringList paths;
  for (const QUrl &url : urls)
    if (url.isLocalFile())
      paths << url.toLocalFile();
  Dropped(paths);
}

void TPanelScroller::paintEvent(QPaintEvent *AEvent) {
  QWidget::paintEvent(AEvent);
  if (Count() > 0)
    return;
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::PlaceholderText));
  QRect area = rect();
  area.setWidth(ViewWidth());
  painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, EmptyText());
}
