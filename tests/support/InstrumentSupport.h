// The simulated instrument (tools/vr7sim.py) seen from a test: its control folder, its
// script and transcript, the stand-in FTDI driver's configuration and log, and registry
// entries for converters.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

inline std::string EnvText(const char* name)
{
    char value[2048];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

// Wine hands the Unix environment over unchanged; its Z: drive is the Unix root.
inline std::string FromUnixPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

inline std::string PeerFile(const std::string& name)
{
    return FromUnixPath(EnvText("TAVRIN_PEER_DIR") + "/" + name);
}

inline std::string ReadWholeFile(const std::string& path)
{
    std::string text;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return text;
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0) text.append(buffer, n);
    CloseHandle(h);
    return text;
}

inline void WriteWholeFile(const std::string& path, const std::string& text)
{
    // Written whole under another name, then moved in: a reader never sees half of it.
    const std::string temp = path + ".new";
    HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
    MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// The instrument's answers, one step per line (see tools/vr7sim.py).
inline void WriteScript(const std::vector<std::string>& steps)
{
    std::string text;
    for (const auto& s : steps) text += s + "\n";
    WriteWholeFile(PeerFile("script"), text);
}

inline std::string Transcript()
{
    return ReadWholeFile(PeerFile("transcript"));
}

// The stand-in driver reads its devices and failures from here at every call.
class TStandInDriver {
public:
    TStandInDriver()
    {
        config_ = PeerFile("ftd2xx.cfg");
        log_ = PeerFile("ftd2xx.log");
        SetEnvironmentVariableA("FTD2XX_STANDIN", config_.c_str());
        SetEnvironmentVariableA("FTD2XX_STANDIN_LOG", log_.c_str());
    }
    void Configure(const std::string& text) { WriteWholeFile(config_, text); }
    std::string Log() const { return ReadWholeFile(log_); }
    // The device line of a converter wired to the instrument's USB link.
    static std::string Device(const std::string& serial, const std::string& options = "")
    {
        return "device " + serial + " " + EnvText("TAVRIN_PEER_TCP") + (options.empty() ? "" : " " + options) + "\n";
    }

private:
    std::string config_, log_;
};

// Registry entries that map converters' serial numbers to COM numbers; removed at the end.
class TFtdiRegistry {
public:
    void Add(const std::string& serial, const char* portName)
    {
        const std::string key = Key(serial);
        keys_.push_back(serial);
        HKEY h = nullptr;
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, (key + "\\0000\\Device Parameters").c_str(), 0, nullptr, 0, KEY_WRITE,
                        nullptr, &h, nullptr);
        if (portName)
            RegSetValueExA(h, "PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(portName),
                           static_cast<DWORD>(strlen(portName) + 1));
        RegCloseKey(h);
    }
    ~TFtdiRegistry()
    {
        for (const auto& serial : keys_) RegDeleteTreeA(HKEY_LOCAL_MACHINE, Key(serial).c_str());
    }

private:
    static std::string Key(const std::string& serial)
    {
        return "SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+" + serial + "A";
    }
    std::vector<std::string> keys_;
};
