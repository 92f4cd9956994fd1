#include "plctag_factory.h"

#include "regaccess/control_factory.h"
#include "regaccess/control_site.h"
#include "regaccess/plctag.h"

#include <QPointer>

namespace chronel {

ControlFactory PlctagControlFactory(regaccess::ControlSite* site)
{
    QPointer<regaccess::ControlSite> guarded(site);
    return [guarded](const QString& className, QObject* parent) -> QObject* {
        return regaccess::createControl(className, parent, guarded.data());
    };
}

} // namespace chronel
