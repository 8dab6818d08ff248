// Message boxes of the window, with the application's title as caption. Tests catch them
// instead of showing them.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

// The caption of every message box.
constexpr const char *ApplicationTitle = "Korvelo Converter";

// Shows AText in a modal message box over AParent.
void ShowMessage(QWidget *AParent, const QString &AText,
                 QMessageBox::Icon AIcon = QMessageBox::Warning);
// The same from a queued call: for handlers of converter events, which must never wait for a
// person (a modal box would run the event loop inside them).
void PostMessage(QWidget *AParent, const QString &AText,
                 QMessageBox::Icon AIcon = QMessageBox::Warning);

// Asks AText with two answers, AYes first and the default; true for AYes. While a question
// sink is set it answers; while only a message sink is set (tests), the answer is AYes.
bool AskQuestion(QWidget *AParent, const QString &AText, const QString &AYes, const QString &ANo);
using TQuestionSink = std::function<bool(const QString &AText)>;
void SetQuestionSink(TQuestionSink ASink);

// AName on one line: a line break or tab in a file name becomes a blank, as the line edits show
// it, so that a one-line row or status shows the whole name rather than its first line.
QString OneLine(const QString &AName);

// Loads the catalogues of the desktop's language (the window's, Qt's and the core's); English,
// the source, only needs its plural forms ("%n file(s)" -> "1 file", "2 files").
void InstallTranslations();

// While set, messages go here instead of to message boxes.
using TMessageSink = std::function<void(const QString &AText, QMessageBox::Icon AIcon)>;
void SetMessageSink(TMessageSink ASink);
