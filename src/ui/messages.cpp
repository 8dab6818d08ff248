#include "ui/messages.h"

#include <QApplication>
#include <QPointer>
#include <QPushButton>

namespace {

TMessageSink &Sink() {
  static TMessageSink sink;
  return sink;
}

TQuestionSink &Questions() {
  static TQuestionSink sink;
  return sink;
}

} // namespace

bool AskQuestion(QWidget *AParent, const QString &AText, const QString &AYes, const QString &ANo) {
  if (Questions())
    return Questions()(AText);
  if (Sink())
    return true;
  QMessageBox box(QMessageBox::Question, QString::fromUtf8(ApplicationTitle), AText,
                  QMessageBox::NoButton, AParent);
  QPushButton *yes = box.addButton(AYes, QMessageBox::AcceptRole);
  box.addButton(ANo, QMessageBox::RejectRole);
  box.setDefaultButton(yes);
  box.exec();
  return box.clickedButton() == yes;
}

void ShowMessage(QWidget *AParent, const QString &AText, QMessageBox::Icon AIcon) {
  if (Sink()) {
    Sink()(AText, AIcon);
    return;
  }
  QMessageBox box(AIcon, QString::fromUtf8(ApplicationTitle), AText, QMessageBox::Ok, AParent);
  box.exec();
}

void PostMessage(QWidget *AParent, const QString &AText, QMessageBox::Icon AIcon) {
  QPointer<QWidget> parent(AParent);
  const bool hadParent = AParent != nullptr;
  QMetaObject::invokeMethod(
      qApp,
      [parent, hadParent, AText, AIcon] {
        if (hadParent && !parent)
          return; // the window it concerned has gone
        ShowMessage(parent, AText, AIcon);
      },
      Qt::QueuedConnection);
}

QString OneLine(const QString &AName) {
  QString line = AName;
  for (QChar &c : line)
    if (c.category() == QChar::Other_Control)
      c = QLatin1Char(' ');
  return line;
}

void SetMessageSink(TMessageSink ASink) { Sink() = std::move(ASink); }

void SetQuestionSink(TQuestionSink ASink) { Questions() = std::move(ASink); }
