#include "cli_test_support.h"

#include "journal/journal_location.h"
#include "journal/journal_store.h"

#include <QSqlQuery>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace clitest {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

int ExitCodeOf(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status); }

pid_t Spawn(const std::string& program, const std::vector<std::string>& args, const Env& env, int out, int err)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::setpgid(0, 0);
    for (const auto& [name, value] : env) {
        if (value.empty())
            ::unsetenv(name.c_str());
        else
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    std::string path = program;
    argv.push_back(path.data());
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
}

// A pseudo-terminal pair: the master end for reading, the slave end for the
// child's stderr.
bool OpenTerminal(int fds[2])
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return false;
    const char* name = (::grantpt(master) == 0 && ::unlockpt(master) == 0) ? ::ptsname(master) : nullptr;
    const int slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
    if (slave < 0) {
        ::close(master);
        return false;
    }
    fds[0] = master;
    fds[1] = slave;
    return true;
}

} // namespace

RunResult Run(
    const std::string& program, const std::vector<std::string>& args, const Env& env, const RunOptions& options)
{
    const int timeoutMs = options.timeoutMs;
    RunResult result;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (options.stderrOnTerminal ? !OpenTerminal(err) : ::pipe2(err, O_CLOEXEC) != 0)
        return result;
    const pid_t pid = Spawn(program, args, env, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    if (pid < 0) {
        ::close(out[0]);
        ::close(err[0]);
        return result;
    }

    if (options.started)
        options.started(pid);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool interruptPending = !options.interruptOnOutput.empty() || options.interruptWhen;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        const int left = MsLeft(deadline);
        if (left == 0) {
            result.timedOut = true;
            break;
        }
        // The program is running once it said something: before that a
        // SIGINT might find it without its handler.
        const bool talking = !result.out.empty() || !result.err.empty();
        if (interruptPending && talking &&
            (options.interruptWhen ? options.interruptWhen() : Contains(result.out, options.interruptOnOutput))) {
            ::kill(pid, options.interruptWhen ? options.interruptSignal : SIGINT);
            interruptPending = false;
        }
        if (::poll(fds, 2, interruptPending && options.interruptWhen ? std::min(left, 50) : left) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, std::size_t(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    if (result.timedOut)
        ::kill(-pid, SIGKILL);
    int status = 0;
    // The pipes closed, so the child is ending; a timed-out one was killed.
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    result.exitCode = ExitCodeOf(status);
    return result;
}

RunResult RunCli(const std::vector<std::string>& args, int port, const Env& env, const RunOptions& options)
{
    Env all{{"LC_ALL", "C"}, {"LANG", "C"}, {"PLCDRV_INI", ""}, {"PLCTAG_TCP_PORT", ""}};
    if (port != 0)
        all["PLCTAG_TCP_PORT"] = std::to_string(port);
    for (const auto& [k, v] : env)
        all[k] = v;
    return Run(CHRONEL_CLI_PATH, args, all, options);
}

int JournalRowCount(const std::string& location, const std::string& where)
{
    QString error;
    const auto parsed = chronel::ParseJournalLocation(QString::fromStdString(location), &error);
    chronel::JournalStore store;
    if (!parsed || !store.open(*parsed, &error))
        return -1;
    QSqlQuery query(store.database());
    const QString sql = QStringLiteral("SELECT count(*) FROM journal_events") +
        (where.empty() ? QString() : QStringLiteral(" WHERE ") + QString::fromStdString(where));
    return query.exec(sql) && query.next() ? query.value(0).toInt() : -1;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

ModbusPeer::ModbusPeer(const std::string& host, int port)
{
    ctx_ = modbus_new_tcp(host.c_str(), port);
    if (!ctx_)
        return;
    modbus_set_slave(ctx_, 255);
    modbus_set_response_timeout(ctx_, 2, 0);
    connected_ = modbus_connect(ctx_) == 0;
}

ModbusPeer::~ModbusPeer()
{
    if (ctx_) {
        modbus_close(ctx_);
        modbus_free(ctx_);
    }
}

std::vector<std::uint16_t> ModbusPeer::read(int firstRegister, int count)
{
    std::vector<std::uint16_t> words(static_cast<std::size_t>(count));
    if (!connected_ || modbus_read_registers(ctx_, firstRegister - 1, count, words.data()) != count)
        return {};
    return words;
}

bool ModbusPeer::write(int firstRegister, const std::vector<std::uint16_t>& words)
{
    return connected_ &&
        modbus_write_registers(ctx_, firstRegister - 1, int(words.size()), words.data()) == int(words.size());
}

bool ModbusPeer::coil(int coilNumber)
{
    std::uint8_t bit = 0;
    return connected_ && modbus_read_bits(ctx_, coilNumber - 1, 1, &bit) == 1 && bit != 0;
}

bool ModbusPeer::writeText(int firstRegister, const std::string& text, int chars)
{
    std::vector<std::uint16_t> words(static_cast<std::size_t>(chars / 2), 0);
    for (std::size_t i = 0; i < text.size() && i < std::size_t(chars); ++i)
        words[i / 2] |= std::uint16_t(std::uint8_t(text[i])) << (i % 2 ? 8 : 0);
    return write(firstRegister, words);
}

std::string ModbusPeer::readText(int firstRegister, int chars)
{
    std::string text;
    bool ended = false;
    for (const std::uint16_t w : read(firstRegister, chars / 2)) {
        for (const char c : {char(w & 0xFF), char(w >> 8)}) {
            if (c == 0) {
                ended = true;
                break;
            }
            text += c;
        }
        if (ended)
            break;
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

SettingsRecords ParseSettings(const std::string& text)
{
    SettingsRecords records;
    for (const std::string& line : Lines(text)) {
        std::vector<std::string> fields;
        std::string field;
        bool quoted = false;
        for (const char c : line) {
            if (c == '"')
                quoted = !quoted;
            else if (c == ',' && !quoted) {
                fields.push_back(field);
                field.clear();
            } else
                field += c;
        }
        fields.push_back(field);
        const std::string key = fields.front();
        fields.erase(fields.begin());
        records[key] = fields;
    }
    return records;
}

std::string ReplaceRecord(const std::string& text, const std::string& key, const std::string& fields)
{
    const std::string head = "\"" + key + "\",";
    const auto at = text.find(head);
    if (at == std::string::npos)
        return text;
    const auto end = text.find("\r\n", at);
    return text.substr(0, at) + head + fields + text.substr(end);
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "chronel-cli-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()))
        path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ignored);
}

std::string HexFileText(const std::vector<std::uint8_t>& data)
{
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    const auto put = [&](std::uint8_t b) {
        text += digits[b >> 4];
        text += digits[b & 15];
    };
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t n = std::min<std::size_t>(16, data.size() - at);
        std::vector<std::uint8_t> record = {std::uint8_t(n), std::uint8_t(at >> 8), std::uint8_t(at), 0};
        record.insert(record.end(), data.begin() + long(at), data.begin() + long(at + n));
        unsigned sum = 0;
        text += ':';
        for (const std::uint8_t b : record) {
            put(b);
            sum += b;
        }
        put(std::uint8_t(-sum));
        text += "\r\n";
    }
    return text + ":00000001FF\r\n";
}

std::string SerialIniText(const std::string& device) { return SerialIniText(std::vector<std::string>{device}); }

std::string SerialIniText(const std::vector<std::string>& devices)
{
    std::string ports = "[Ports]\r\n";
    std::string adapters;
    for (std::size_t k = 0; k < devices.size(); ++k) {
        const std::string n = std::to_string(k + 1);
        ports += "COM" + n + "=" + devices[k] + "\r\n";
        adapters += "\r\n[Adapter.Object." + n + "]\r\nEnabled=1\r\nType=0\r\nCOM:=" + std::to_string(k) +
            "\r\nLinkSpeed=3\r\nLinkParity=2\r\nLinkDataBits=1\r\nLinkStopBits=0\r\nLinkProtocol=0\r\n"
            "LinkTimeOut=1000\r\n";
    }
    return "[GENERAL]\r\nDialogShow=0\r\n\r\n" + ports + adapters;
}

} // namespace clitest
