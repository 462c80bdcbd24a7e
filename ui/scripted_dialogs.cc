#include "ui/scripted_dialogs.h"

namespace ferrybox {

MessageAnswer ScriptedDialogs::ShowMessage(const MessageRequest& request) {
  messages_.push_back(request);
  if (answers_.empty()) return request.default_answer;
  const MessageAnswer answer = answers_.front();
  answers_.pop_front();
  return answer;
}

QString ScriptedDialogs::ChooseFolder(const QString& title,
                                      const QString& start_folder) {
  folder_requests_.push_back({title, start_folder});
  if (folders_.empty()) return QString();
  QString folder = folders_.front();
  folders_.pop_front();
  return folder;
}

}  // namespace ferrybox
