// "Send to PSP": the errand of putting the Convert page's files on the memory stick in one press.
// What is not converted yet is converted by the list's batch (first offered at a lower bit rate
// when the batch would not fit the stick), then the Folders and Files page sends the videos in
// list order while they fit, and the outcome is told in one message and one notification.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "app/stick_fit.h"
#include "ui/folders_page.h"

class QWidget;
class TDesktopNotifier;
class TfrmConvertList;

class TSendToPSP : public QObject {
  Q_OBJECT

public:
  TSendToPSP(TfrmConvertList *AList, TFoldersPage *APage, TDesktopNotifier &ANotifier,
             QWidget *AWindow);

  // The press, from the tool bar or the page.
  void Start();
  // The list's batch has ended; true when it was this errand's (its end is told by the send).
  bool BatchEnded(bool AStopped);
  // Waiting for the batch, or sending.
  bool Running() const { return FWaitingForBatch || FPage->CopyRunning(); }

  // Runs on the window's thread just before the videos are sent. Tests use it.
  std::function<void()> FBeforeSend;

private:
  // False when the person would rather not go on.
  bool OfferFit();
  void Send();
  void Tell(const TFoldersPage::TSendResult &AResult);

  TfrmConvertList *FList;
  TFoldersPage *FPage;
  TDesktopNotifier &FNotifier;
  QWidget *FWindow;
  bool FWaitingForBatch = false;
  bool FFitted = false; // this errand converts at FFit's bit rate
  TStickFit FFit;
};
