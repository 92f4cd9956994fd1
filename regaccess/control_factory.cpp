#include "regaccess/control_factory.h"

#include "regaccess/plctag.h"

namespace regaccess {

Plctag* createControl(const QString& className, QObject* parent, ControlSite* site)
{
    const QString name = className.trimmed();
    if (name.compare(QLatin1String(PlctagClassName), Qt::CaseInsensitive) != 0 &&
        name.compare(QLatin1String(PlctagProgId), Qt::CaseInsensitive) != 0)
        return nullptr;
    return new Plctag(parent, site);
}

} // namespace regaccess
