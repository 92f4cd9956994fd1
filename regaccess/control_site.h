#pragma once
// The host side of a control: the container's user-mode flag (false while a
// form is being designed) and whether the host has the control enabled.
// Several controls may share one site. A control without a site behaves as
// if hosted in user mode and enabled.
#include "regaccess/plctag_export.h"

#include <QObject>

namespace regaccess {

class PLCTAG_EXPORT ControlSite : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool userMode READ userMode WRITE setUserMode NOTIFY userModeChanged)
    Q_PROPERTY(bool enabled READ enabled WRITE setEnabled NOTIFY enabledChanged)

public:
    explicit ControlSite(QObject* parent = nullptr) : QObject(parent) { }

    bool userMode() const { return userMode_; }
    void setUserMode(bool userMode)
    {
        if (userMode_ != userMode) {
            userMode_ = userMode;
            emit userModeChanged(userMode);
        }
    }
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled)
    {
        if (enabled_ != enabled) {
            enabled_ = enabled;
            emit enabledChanged(enabled);
        }
    }

signals:
    void userModeChanged(bool userMode);
    void enabledChanged(bool enabled);

private:
    bool userMode_ = true;
    bool enabled_ = true;
};

} // namespace regaccess
