// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes and folder dialogs answered in advance, for window tests.
#ifndef FERRYBOX_TESTS_UI_SCRIPTED_DIALOGS_H_
#define FERRYBOX_TESTS_UI_SCRIPTED_DIALOGS_H_

#include <deque>
#include <vector>

#include "ui/dialogs.h"

namespace ferrybox {

/// Shows nothing. Records every message box and answers from what was set
/// in advance: a message box with the next answer set (or its default
/// button when none is left), a folder dialog with the next folder set (or
/// as cancelled when none is left).
class ScriptedDialogs : public Dialogs {
 public:
  void SetNextAnswer(MessageAnswer answer) { answers_.push_back(answer); }
  /// "" answers as a cancelled dialog.
  void SetNextDirectory(const QString& folder) { folders_.push_back(folder); }

  const std::vector<MessageRequest>& messages() const { return messages_; }

  MessageAnswer ShowMessage(const MessageRequest& request) override {
    messages_.push_back(request);
    if (answers_.empty()) return request.default_answer;
    const MessageAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

  QString ChooseFolder(const QString&, const QString&) override {
    if (folders_.empty()) return QString();
    QString folder = folders_.front();
    folders_.pop_front();
    return folder;
  }

 private:
  std::deque<MessageAnswer> answers_;
  std::deque<QString> folders_;
  std::vector<MessageRequest> messages_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_UI_SCRIPTED_DIALOGS_H_
