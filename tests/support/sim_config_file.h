#pragma once
// Writes a device list for the stand-in MBX driver into a temporary file and
// points MBXSIM_CONFIG at it for the life of the object.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

class SimConfigFile {
public:
    explicit SimConfigFile(const std::string& text)
    {
        char name[] = "/tmp/mbxsim-XXXXXX";
        const int fd = ::mkstemp(name);
        if (fd >= 0)
            ::close(fd);
        path_ = name;
        std::ofstream(path_) << text;
        ::setenv("MBXSIM_CONFIG", path_.c_str(), 1);
    }
    ~SimConfigFile()
    {
        ::unsetenv("MBXSIM_CONFIG");
        std::remove(path_.c_str());
    }
    SimConfigFile(const SimConfigFile&) = delete;
    SimConfigFile& operator=(const SimConfigFile&) = delete;

    // One physical device section forwarding to 127.0.0.1:port.
    static std::string device(int number, int port, const std::string& name = "Bench Card", bool physical = true)
    {
        return "[Device " + std::to_string(number) + "]\nPhysical=" + (physical ? "1" : "0") +
            "\nProtocol=Modbus Plus\nCard=SA85 stand-in\nName=" + name +
            "\nDescription=Chronel test bench\nEndpoint=127.0.0.1:" + std::to_string(port) + "\n";
    }

private:
    std::string path_;
};
