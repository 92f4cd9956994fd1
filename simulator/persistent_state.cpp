#include "persistent_state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

#include "flash_memory.h"

namespace chronel::sim {
namespace {

constexpr const char* kMagic = "chronel-sim-state 1";
constexpr size_t kFlashLine = 128;

void AppendWords(std::string& out, const uint16_t* w, size_t n)
{
    char buf[8];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %04X" : "%04X", w[i]);
        out += buf;
    }
}

bool ReadWords(std::istringstream& in, uint16_t* w, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        std::string tok;
        if (!(in >> tok) || tok.size() != 4)
            return false;
        char* end = nullptr;
        unsigned long v = std::strtoul(tok.c_str(), &end, 16);
        if (*end != '\0')
            return false;
        w[i] = static_cast<uint16_t>(v);
    }
    std::string extra;
    return !(in >> extra);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

void PutText(uint16_t* words, int wordCount, const std::string& text)
{
    for (int i = 0; i < wordCount; ++i) {
        size_t a = 2 * static_cast<size_t>(i), b = a + 1;
        uint8_t lo = a < text.size() ? static_cast<uint8_t>(text[a]) : 0;
        uint8_t hi = b < text.size() ? static_cast<uint8_t>(text[b]) : 0;
        words[i] = static_cast<uint16_t>(lo | (hi << 8));
    }
}

std::string GetText(const uint16_t* words, int wordCount)
{
    std::string s;
    for (int i = 0; i < wordCount; ++i) {
        char lo = static_cast<char>(words[i] & 0xFF), hi = static_cast<char>(words[i] >> 8);
        if (lo == 0)
            break;
        s += lo;
        if (hi == 0)
            break;
        s += hi;
    }
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

PersistentState FactoryState()
{
    PersistentState s;
    auto& c = s.config;
    c[cfg::EventBufferType] = 2;
    c[cfg::EventDelay] = 50;
    c[cfg::TsToGpsOffset] = static_cast<uint16_t>(-5);
    c[cfg::Modbus232Baud] = 5;
    c[cfg::Modbus232Parity] = 1;
    c[cfg::Modbus485Baud] = 5;
    c[cfg::Modbus485Parity] = 1;
    static constexpr uint16_t kMac[6] = {0x00, 0x0A, 0x1B, 0x53, 0x45, 0x52};
    for (int i = 0; i < 6; ++i)
        c[cfg::TcpipMac + i] = kMac[i];
    // A bench module answers on loopback, so an upload never points the
    // configurator at a real network.
    static constexpr uint16_t kIp[4] = {127, 0, 0, 1}, kMask[4] = {255, 0, 0, 0};
    for (int i = 0; i < 4; ++i) {
        c[cfg::TcpipIp + i] = kIp[i];
        c[cfg::TcpipSubnet + i] = kMask[i];
    }
    PutText(&c[cfg::ModuleName], 8, "Chronel SER");
    c[cfg::Version] = 160;
    c[cfg::ModbusAddress] = 1;
    s.moduleId = 1;
    auto& p = s.points;
    for (int i = 0; i < 32; ++i) {
        p[pts::Filter + i] = 20;
        p[pts::Debounce + i] = 20;
        PutText(&p[pts::Description + 16 * i], 16, "Point  " + std::to_string(i + 1));
        PutText(&p[pts::OffText + 8 * i], 8, "Off");
        PutText(&p[pts::OnText + 8 * i], 8, "On");
    }
    s.flash.assign(FlashMemory::kSize, 0xFF);
    return s;
}

std::string SerializeState(const PersistentState& s)
{
    std::string out = kMagic;
    out += "\nconfig ";
    AppendWords(out, s.config.data(), s.config.size());
    out += "\nmodule-id ";
    AppendWords(out, &s.moduleId, 1);
    out += "\npoints ";
    AppendWords(out, s.points.data(), s.points.size());
    out += '\n';
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (size_t off = 0; off + kFlashLine <= s.flash.size(); off += kFlashLine) {
        bool erased = true;
        for (size_t i = 0; i < kFlashLine; ++i)
            erased = erased && s.flash[off + i] == 0xFF;
        if (erased)
            continue;
        char head[32];
        std::snprintf(head, sizeof head, "flash %05zX ", off);
        out += head;
        for (size_t i = 0; i < kFlashLine; ++i) {
            out += kHex[s.flash[off + i] >> 4];
            out += kHex[s.flash[off + i] & 0xF];
        }
        out += '\n';
    }
    out += "end\n";
    return out;
}

bool ParseState(const std::string& text, PersistentState& out, std::string& error)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) {
        error = "not a chronel-sim state file";
        return false;
    }
    out.flash.assign(FlashMemory::kSize, 0xFF);
    bool haveConfig = false, haveId = false, havePoints = false, haveEnd = false;
    int lineNo = 1;
    while (std::getline(in, line)) {
        ++lineNo;
        std::istringstream fields(line);
        std::string key;
        fields >> key;
        bool ok = true;
        if (haveEnd) {
            ok = false;
        } else if (key == "config") {
            ok = ReadWords(fields, out.config.data(), out.config.size());
            haveConfig = true;
        } else if (key == "module-id") {
            ok = ReadWords(fields, &out.moduleId, 1);
            haveId = true;
        } else if (key == "points") {
            ok = ReadWords(fields, out.points.data(), out.points.size());
            havePoints = true;
        } else if (key == "flash") {
            std::string offText, data, extra;
            ok = static_cast<bool>(fields >> offText >> data) && !(fields >> extra) && data.size() == 2 * kFlashLine;
            char* end = nullptr;
            unsigned long off = ok ? std::strtoul(offText.c_str(), &end, 16) : 0;
            ok = ok && *end == '\0' && off % kFlashLine == 0 && off + kFlashLine <= out.flash.size();
            for (size_t i = 0; ok && i < kFlashLine; ++i) {
                int h = HexValue(data[2 * i]), l = HexValue(data[2 * i + 1]);
                ok = h >= 0 && l >= 0;
                if (ok)
                    out.flash[off + i] = static_cast<uint8_t>(h << 4 | l);
            }
        } else if (key == "end") {
            haveEnd = true;
        } else if (!key.empty()) {
            ok = false;
        }
        if (!ok) {
            error = "malformed line " + std::to_string(lineNo);
            return false;
        }
    }
    if (!haveConfig || !haveId || !havePoints || !haveEnd) {
        error = "incomplete state file (truncated?)";
        return false;
    }
    return true;
}

bool LoadStateFile(const std::string& path, PersistentState& out, bool& missing, std::string& error)
{
    missing = false;
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        if (errno == ENOENT) {
            missing = true;
            return false;
        }
        error = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    std::stringstream ss;
    ss << f.rdbuf();
    return ParseState(ss.str(), out, error);
}

bool SaveStateFile(const std::string& path, const PersistentState& s, std::string& error)
{
    std::string text = SerializeState(s);
    // A name nobody can foresee, created only where nothing is (mkstemp's
    // O_EXCL): a file or link planted at a predictable name would receive
    // the state, or truncate what the link points to.
    std::string tmp = path + ".tmp.XXXXXX";
    int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = "cannot write " + tmp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    bool synced = ::fsync(fd) == 0;
    bool closed = ::close(fd) == 0;
    if (!synced || !closed) {
        error = "cannot flush " + tmp + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace chronel::sim
