// chronel-sim: a Chronel SER module on the desk, for engineers, demos and tests.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "module_model.h"
#include "persistent_state.h"
#include "server.h"
#include "sim_options.h"

using namespace chronel::sim;

namespace {

int g_stopPipe[2] = {-1, -1};

void OnSignal(int)
{
    int saved = errno;
    char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_stopPipe[1], &c, 1);
    errno = saved;
}

int64_t HostNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t SteadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    std::string error;
    if (!ParseOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::cerr << "chronel-sim: " << error << '\n';
        return 2;
    }
    if (options.help) {
        std::cout << HelpText();
        return 0;
    }

    if (options.statePath && options.modules > 1) {
        std::error_code ec;
        std::filesystem::create_directories(*options.statePath, ec);
        if (!std::filesystem::is_directory(*options.statePath)) {
            std::cerr << "chronel-sim: --state " << *options.statePath << " is not a usable folder\n";
            return 1;
        }
    }

    std::vector<std::unique_ptr<ModuleModel>> models;
    std::vector<ModuleModel*> modelPtrs;
    for (int k = 1; k <= options.modules; ++k) {
        ModelOptions mo;
        mo.events = options.events;
        mo.seed = ModuleSeed(options, k);
        mo.timeSource = options.timeSource;
        if (!options.faultModule || *options.faultModule == k)
            mo.injectedExceptions = options.exceptions;
        auto& model = *models.emplace_back(std::make_unique<ModuleModel>(HostNowMs, mo));
        modelPtrs.push_back(&model);

        if (auto path = ModuleStatePath(options, k)) {
            PersistentState loaded;
            bool missing = false;
            if (LoadStateFile(*path, loaded, missing, error)) {
                model.loadPersistentState(loaded);
            } else if (!missing) {
                // Refuse rather than overwrite a state file we cannot read.
                std::cerr << "chronel-sim: cannot read state file " << *path << ": " << error << '\n';
                return 1;
            }
        }
        if (options.bufferType)
            model.setBufferType(*options.bufferType);
    }

    if (::pipe2(g_stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("chronel-sim: pipe");
        return 1;
    }
    struct sigaction sa { };
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    Server server(modelPtrs, options, std::cerr);
    if (!server.open(error)) {
        std::cerr << "chronel-sim: " << error << '\n';
        return 1;
    }
    if (options.rtuPath && *options.rtuPath == "pty")
        std::cout << server.rtuPath() << std::endl;
    if (options.tcp)
        std::cout << "tcp-port " << server.tcpPort() << std::endl;

    for (auto& model : models)
        model->start();

    int64_t lastSave = SteadyMs();
    auto save = [&](bool force) {
        auto dirty = [](const std::unique_ptr<ModuleModel>& m) { return m->persistentDirty(); };
        if (!options.statePath || std::none_of(models.begin(), models.end(), dirty))
            return;
        if (!force && SteadyMs() - lastSave < 1000)
            return;
        lastSave = SteadyMs();
        for (int k = 1; k <= options.modules; ++k) {
            ModuleModel& model = *models[static_cast<size_t>(k - 1)];
            if (!model.persistentDirty())
                continue;
            std::string why;
            if (SaveStateFile(*ModuleStatePath(options, k), model.persistentState(), why)) {
                model.clearPersistentDirty();
            } else {
                std::cerr << "chronel-sim: cannot save state: " << why << '\n';
                model.recordError(err::ConfigurationWriteFail);
                model.clearPersistentDirty(); // retried with the next change
            }
        }
    };
    // A state file is written at once, so that a first run leaves one behind.
    save(true);
    server.run(g_stopPipe[0], [&] { save(false); });
    save(true);
    return 0;
}
