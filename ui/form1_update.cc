#include "ui/form1.h"

namespace ferrybox {

void Form1::ConnectUpdateHandlers() {}

}  // namespace ferrybox
