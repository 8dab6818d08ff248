// TPanelScroller: a list of panels of one height, one under the other, scrolled by a bar of its
// own. Only the panels in sight and a few either side are shown, so a thousand lay out as
// quickly as ten; a window narrower than the panels scrolls them sideways; Tab into a panel out
// of sight brings it into view. Files dropped on it from a file manager are handed on; empty,
// it says what to do.
#pragma once

#include <QWidget>

class QScrollBar;

class TPanelScroller : public QWidget {
  Q_OBJECT

public:
  static constexpr int ScrollBarWidth = 17;
  static constexpr int ScrollMax = 1000; // the bar counts thousandths of what is hidden

  TPanelScroller(QWidget *AParent, int APanelHeight);

  virtual int Count() const = 0;

  QScrollBar *scrollbarConvertList = nullptr;
  QScrollBar *scrollbarSideways = nullptr; // shown while the panels are wider than the list

protected:
  virtual QWidget *PanelAt(int AIndex) const = 0;
  // The local files and folders dropped, in their order.
  virtual void Dropped(const QStringList &APaths) = 0;
  // What the list says while it has no panel.
  virtual QString EmptyText() const = 0;
  // A panel added last at AIndex: the list shows it.
  void PlacePanel(QWidget *APanel, int AIndex);
  void LayoutItems();
  // Scrolls panel AIndex fully into view, up or down.
  void ScrollToPanel(int AIndex);
  // Whether APanel shows at least in part.
  bool InSight(const QWidget *APanel) const;
  int ViewWidth() const;    // what the list shows of a panel's width
  int ClientHeight() const; // what the list shows of its panels' height

  void resizeEvent(QResizeEvent *AEvent) override;
  void wheelEvent(QWheelEvent *AEvent) override;
  void dragEnterEvent(QDragEnterEvent *AEvent) override;
  void dropEvent(QDropEvent *AEvent) override;
  void paintEvent(QPaintEvent *AEvent) override;

private:
  // Scrolls the panel that holds AWidget fully into view.
  void ShowPanelOf(QWidget *AWidget);
  int ItemWidth() const;

  const int FPanelHeight;
  int FMinItemWidth = 0; // the narrowest a panel shows all of itself
};
