#include "ui/browse_folder.h"

#include <QDir>

#include "ui/dialogs.h"

namespace ferrybox {

QString BrowseFolder(Dialogs& dialogs) {
  return dialogs.ChooseFolder("This is the title", QDir::homePath());
}

}  // namespace ferrybox
