// SPDX-License-Identifier: GPL-3.0-or-later
// Message boxes and folder dialogs answered in advance, for window tests.
#ifndef FERRYBOX_TESTS_UI_SCRIPTED_DIALOGS_H_
#define FERRYBOX_TESTS_UI_SCRIPTED_DIALOGS_H_

#include <deque>
#include <optional>
#include <vector>

#include "ui/dialogs.h"

namespace ferrybox {

/// Shows nothing. Records every message box and answers from what was set
/// in advance: a message box with the next answer set (or its default
/// button when none is left), a folder dialog with the next folder set (or
/// as cancelled when none is left), the options dialog with the next
/// options set (or as cancelled when none is left or nullopt was set).
class ScriptedDialogs : public Dialogs {
 public:
  void SetNextAnswer(MessageAnswer answer) { answers_.push_back(answer); }
  /// "" answers as a cancelled dialog.
  void SetNextDirectory(const QString& folder) { folders_.push_back(folder); }

  void SetNextOptions(std::optional<ProfileOptions> options) {
    options_.push_back(std::move(options));
  }

  const std::vector<MessageRequest>& messages() const { return messages_; }
  /// The options each options dialog opened with.
  const std::vector<ProfileOptions>& options_shown() const {
    return options_shown_;
  }

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

  bool EditOptions(ProfileOptions* options) override {
    options_shown_.push_back(*options);
    if (options_.empty()) return false;
    const std::optional<ProfileOptions> answer = options_.front();
    options_.pop_front();
    if (answer) *options = *answer;
    return answer.has_value();
  }

 private:
  std::deque<MessageAnswer> answers_;
  std::deque<QString> folders_;
  std::deque<std::optional<ProfileOptions>> options_;
  std::vector<MessageRequest> messages_;
  std::vector<ProfileOptions> options_shown_;
};

}  // namespace ferrybox

#endif  // FERRYBOX_TESTS_UI_SCRIPTED_DIALOGS_H_
