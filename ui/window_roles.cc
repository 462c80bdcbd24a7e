// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/window_roles.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include "ui/form1.h"
#include "ui/form9.h"

namespace ferrybox {
namespace {

QAccessibleInterface* WindowFactory(const QString& class_name,
                                    QObject* object) {
  if (class_name == QLatin1String(Form1::staticMetaObject.className()))
    return new QAccessibleWidget(static_cast<QWidget*>(object),
                                 QAccessible::Window);
  if (class_name == QLatin1String(Form9::staticMetaObject.className()))
    return new QAccessibleWidget(static_cast<QWidget*>(object),
                                 QAccessible::Dialog);
  return nullptr;
}

}  // namespace

void InstallWindowRoles() {
  static const bool installed = [] {
    QAccessible::installFactory(WindowFactory);
    return true;
  }();
  (void)installed;
}

}  // namespace ferrybox
