#pragma once
// One module of a run: the window's model with its six channels on PLCTAG
// controls, addressed to the module given with --ip.
//
// The model goes through the window's start-up order, except that nothing is
// sent: the event scan is prepared but not polled (a command that wants it
// starts it). Every channel gets the module's address at once, so that no
// stored host text of a channel can ever receive a request, and the model's
// connection host keeps every later preparation on that address whatever
// IP settings an upload or a settings file brings into the model. The
// channels use the logical adapter the module was given (0 unless --ip
// names another).
//
// A session belongs to the thread that creates it; sessions on different
// threads run side by side.
#include "core/model/chronel_model.h"
#include "regaccess/control_site.h"

#include <QString>

#include <memory>

namespace chronelcli {

class Console;

class ModuleSession {
public:
    ModuleSession(const QString& address, Console& console, int adapter = 0);
    ~ModuleSession();
    ModuleSession(const ModuleSession&) = delete;
    ModuleSession& operator=(const ModuleSession&) = delete;

    const QString& address() const { return address_; }
    int adapter() const { return adapter_; }
    // The module as a failure report names it: "10.0.0.7:502" when the
    // control's own Modbus TCP client reaches it, else the address alone
    // (a driver adapter carries the request).
    QString moduleName() const;
    // Whether a driver adapter carries the module's requests, one exchange
    // at a time for all modules on that adapter.
    bool overDriver() const;
    chronel::ChronelModel& model() { return *model_; }
    chronel::ChannelSet& channels() { return model_->channels(); }
    // A further control, as the test-mode window creates its modTestMode;
    // owned by the session, addressed to the module.
    chronel::Channel& createChannel(const QString& name);

    // Stops the polling of every channel.
    void stopPolling();

private:
    QString address_;
    int adapter_ = 0;
    regaccess::ControlSite site_; // outlives the controls that refer to it
    std::unique_ptr<chronel::ChronelModel> model_;
    std::vector<std::unique_ptr<chronel::Channel>> extra_;
    bool hintShown_ = false;
};

// Whether the module at `address` on logical adapter `adapter` is reached
// through a driver adapter rather than the control's own Modbus TCP client.
bool OverDriver(const QString& address, int adapter);

} // namespace chronelcli
