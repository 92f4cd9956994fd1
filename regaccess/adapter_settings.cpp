#include "regaccess/adapter_settings.h"

#include "platform/profile.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <system_error>

namespace regaccess {

namespace {

// Parsing the file costs more than a whole loopback Modbus exchange, so the
// values are kept until the file's path, size or modification time changes.
// File times have a coarse granularity: a file modified in the last
// seconds could be edited again without its time changing, so such a file
// is always read afresh.
thread_local platform::ProfileReadFailure lastFailure;

class AdapterFileCache {
public:
    AdapterConfig lookup(int adapterNumber)
    {
        lastFailure = {};
        const QString path = platform::PlcdrvIniReadPath();
        std::error_code error;
        const std::filesystem::path file(path.toStdString());
        const auto modified = std::filesystem::last_write_time(file, error);
        if (error)
            return {}; // no file: every key reads as 0
        const auto size = std::filesystem::file_size(file, error);
        if (error)
            return readAdapterConfigFrom(path, adapterNumber);
        const bool settled = std::filesystem::file_time_type::clock::now() - modified > SettleTime;

        std::lock_guard lock(mutex_);
        if (!settled || path != path_ || modified != modified_ || size != size_) {
            configs_.clear();
            path_ = path;
            modified_ = modified;
            size_ = size;
        }
        if (settled) {
            if (const auto known = configs_.find(adapterNumber); known != configs_.end())
                return known->second;
        }
        bool read = false;
        const AdapterConfig config = readAdapterConfigFrom(path, adapterNumber, &read);
        // A file that could not be read (no descriptor left, say) gave
        // defaults, not its values: kept, they would outlast the cause.
        if (settled && read)
            configs_[adapterNumber] = config;
        return config;
    }

    static AdapterConfig readAdapterConfigFrom(const QString& file, int adapterNumber, bool* read = nullptr)
    {
        namespace ini = platform::plcdrvini;
        using platform::PrivateProfile;
        const QString section = ini::section::Adapter(adapterNumber);
        AdapterConfig config;
        // Stops at a read that failed: the second read could succeed and
        // hide why the first gave a default.
        config.type = PrivateProfile::getInt(file, section, ini::key::Type, 0);
        if (PrivateProfile::lastReadFailure().file.isEmpty())
            config.enabled = PrivateProfile::getInt(file, section, ini::key::Enabled, 0);
        lastFailure = PrivateProfile::lastReadFailure();
        if (read)
            *read = lastFailure.file.isEmpty();
        return config;
    }

private:
    static constexpr std::chrono::seconds SettleTime{3};

    std::mutex mutex_;
    QString path_;
    std::filesystem::file_time_type modified_{};
    std::uintmax_t size_ = 0;
    std::map<int, AdapterConfig> configs_;
};

AdapterFileCache& Cache()
{
    static AdapterFileCache instance;
    return instance;
}

} // namespace

AdapterConfig ReadAdapterConfig(int adapterNumber) { return Cache().lookup(adapterNumber); }

platform::ProfileReadFailure LastAdapterConfigFailure() { return lastFailure; }

} // namespace regaccess
