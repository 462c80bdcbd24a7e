// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/browse_folder.h"

#include <QDir>

#include "ui/dialogs.h"
#include "ui/name_bytes.h"

namespace ferrybox {

std::string BrowseFolder(Dialogs& dialogs) {
  return NameBytes(dialogs.ChooseFolder("This is the title", QDir::homePath()));
}

}  // namespace ferrybox
