// The system's serial ports on Windows through the Win32 communications API: the Windows
// build has no QtSerialPort. Each operation blocks its caller, as on Linux, but is issued
// overlapped so that every wait has a limit and can be cut short.
#include "link/SerialPort.h"
#include "link/SystemPorts.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Not in every SDK's headers; Windows before 10 1803 refuses it, and the waits then fall
// back to the system timer's resolution. Manual reset, so that arming the timer again also
// clears a signal left from a wait that ended on its event (Wine keeps that signal on an
// automatic timer).
constexpr DWORD kHighResolutionTimer = 0x00000002 | CREATE_WAITABLE_TIMER_MANUAL_RESET;

// The device setup classes a COM port can be installed in.
constexpr GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
constexpr GUID kModemClass = {
    0x4d36e96d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A frame is a few bytes; the driver's queues only need room for a burst of late ones.
constexpr DWORD kQueueBytes = 4096;
// How long a read of bytes already queued, which should end at once, is given before it is
// cancelled.
constexpr DWORD kPromptLimitMs = 50;
constexpr int kDefaultUsbTimerMs = 16;

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), n, nullptr, nullptr);
    return text;
}

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// "\\.\COM12" and "COM12" name the same port.
std::wstring BareName(const std::string& systemName) {
    std::wstring name = Widen(systemName);
    if (StartsWith(name, L"\\\\.\\") || StartsWith(name, L"\\\\?\\")) name.erase(0, 4);
    return name;
}

// CreateFileW finds COM10 and above only in the device namespace; the lower ones are there
// too.
std::wstring DevicePath(const std::string& systemName) {
    const std::wstring name = Widen(systemName);
    return StartsWith(name, L"\\\\") ? name : L"\\\\.\\" + name;
}

// The number of "COMn", or -1.
long ComNumber(const std::wstring& name) {
    if (name.size() < 4 || name.size() > 12 || !StartsWith(name, L"COM")) return -1;
    long number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9') return -1;
        number = number * 10 + (name[i] - L'0');
    }
    return number;
}

std::wstring Trimmed(std::wstring text) {
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using Key = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

struct DeviceListCloser {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DeviceList = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceListCloser>;

std::optional<std::wstring> RegistryString(HKEY key, const wchar_t* value) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    text.resize(bytes / sizeof(wchar_t));
    return Trimmed(std::move(text));
}

std::optional<DWORD> RegistryNumber(HKEY key, const wchar_t* value) {
    DWORD type = 0;
    DWORD number = 0;
    DWORD bytes = sizeof number;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&number), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof number)
        return std::nullopt;
    return number;
}

std::wstring DeviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    DWORD type = 0;
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, nullptr, 0, &bytes);
    if (bytes == 0) return {};
    std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 2, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(text.data()), bytes, nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ))
        return {};
    return std::wstring(text.data());
}

// A COM port as the device manager knows it.
struct PortDevice {
    std::wstring name;
    std::wstring description;
    std::wstring instanceId; // begins with the enumerator: "USB\VID_…", "ACPI\PNP0501\1"
    std::wstring service;    // the driver: "Serial" for the system's own UART driver
    std::optional<DWORD> latencyTimer;
};

std::vector<PortDevice> PortDevices() {
    std::vector<PortDevice> devices;
    for (const GUID& setupClass : {kPortsClass, kModemClass}) {
        const HDEVINFO raw = SetupDiGetClassDevsW(&setupClass, nullptr, nullptr, DIGCF_PRESENT);
        if (raw == INVALID_HANDLE_VALUE) continue;
        const DeviceList set(raw);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(raw, i, &device); ++i) {
            const HKEY rawKey =
                SetupDiOpenDevRegKey(raw, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (rawKey == INVALID_HANDLE_VALUE || rawKey == nullptr) continue;
            const Key key(rawKey);
            PortDevice port;
            port.name = RegistryString(rawKey, L"PortName").value_or(std::wstring());
            if (port.name.empty()) continue;
            port.latencyTimer = RegistryNumber(rawKey, L"LatencyTimer");
            port.description = DeviceProperty(raw, device, SPDRP_FRIENDLYNAME);
            if (port.description.empty())
                port.description = DeviceProperty(raw, device, SPDRP_DEVICEDESC);
            wchar_t id[512] = {};
            if (SetupDiGetDeviceInstanceIdW(raw, &device, id, 511, nullptr)) port.instanceId = id;
            if (port.instanceId.empty())
                port.instanceId = DeviceProperty(raw, device, SPDRP_ENUMERATOR_NAME);
            port.service = DeviceProperty(raw, device, SPDRP_SERVICE);
            devices.push_back(std::move(port));
        }
    }
    return devices;
}

struct PortFacts {
    PortKind kind = PortKind::Unknown;
    int usbTimerMs = kDefaultUsbTimerMs;
};

// What the device manager says about the port; Unknown and the default timer when it says
// nothing (Wine, virtual ports) or cannot be asked.
PortFacts Describe(const std::string& systemName) {
    PortFacts facts;
    try {
        const std::wstring name = BareName(systemName);
        for (const PortDevice& device : PortDevices()) {
            if (!SameName(device.name, name)) continue;
            if (StartsWith(device.instanceId, L"USB") ||
                StartsWith(device.instanceId, L"FTDIBUS")) {
                facts.kind = PortKind::UsbAdapter;
                // Adapters whose driver has a latency timer keep it with the device.
                if (device.latencyTimer && *device.latencyTimer >= 1 && *device.latencyTimer <= 255)
                    facts.usbTimerMs = static_cast<int>(*device.latencyTimer);
            } else if (SameName(device.service, L"Serial") ||
                       StartsWith(device.instanceId, L"ACPI")) {
                facts.kind = PortKind::Uart;
            }
            break;
        }
    } catch (...) {
        return PortFacts{};
    }
    return facts;
}

class WinSerialPort final : public SerialPort {
public:
    WinSerialPort(HANDLE handle, HANDLE claim, PortKind kind, int usbTimerMs)
        : handle_(handle), claim_(claim), kind_(kind), usbTimerMs_(usbTimerMs),
          hold_(ReadHoldMs(kind, baud_, usbTimerMs)) {
        for (HANDLE& event : events_)
            event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        timer_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
    }
    ~WinSerialPort() override { Close(); }

    bool Usable() const {
        return std::all_of(std::begin(events_), std::end(events_),
                           [](HANDLE event) { return event != nullptr; });
    }

    PortOpenOutcome Configure(PortOpenMode mode) {
        DCB state{};
        state.DCBlength = sizeof state;
        if (GetCommState(handle_, &state)) {
            initialState_ = state;
        } else {
            if (mode == PortOpenMode::Write) return PortOpenOutcome::StateUnreadable;
            // Nothing to keep; the system's defaults for everything but the four set below.
            state = DCB{};
            state.DCBlength = sizeof state;
            BuildCommDCBW(L"baud=9600 parity=N data=8 stop=1", &state);
            state.fBinary = TRUE;
        }
        // Only these four change; flow control and the control lines stay as they were.
        state.BaudRate = 9600;
        state.ByteSize = 8;
        state.Parity = NOPARITY;
        state.StopBits = ONESTOPBIT;
        SetCommState(handle_, &state);

        COMMTIMEOUTS timeouts{};
        if (GetCommTimeouts(handle_, &timeouts)) initialTimeouts_ = timeouts;
        // No driver time-outs: a read ends when it has all it asked for. Read asks only for
        // what is queued, or for one byte while it waits, and cancels that read at its own
        // limit; Write bounds its own wait likewise.
        timeouts = COMMTIMEOUTS{};
        SetCommTimeouts(handle_, &timeouts);

        // The sessions report a port that refuses the receive-event mask. The reads here wait
        // on a read of their own, not on the event, so they work either way.
        if (!SetCommMask(handle_, EV_RXCHAR)) return PortOpenOutcome::EventMaskRefused;
        SetupComm(handle_, kQueueBytes, kQueueBytes);
        Purge(PurgeKind::Clear);
        return PortOpenOutcome::Opened;
    }

    bool SetRate(int baud) override {
        if (lost_) return true; // the protocol finds out from the answers that do not come
        if (baud <= 0) return false;
        DCB state{};
        state.DCBlength = sizeof state;
        if (!GetCommState(handle_, &state)) {
            NoteError(GetLastError());
            return false;
        }
        state.BaudRate = static_cast<DWORD>(baud);
        if (!SetCommState(handle_, &state)) {
            NoteError(GetLastError());
            return false;
        }
        baud_ = baud;
        hold_ = ReadHoldMs(kind_, baud_, usbTimerMs_);
        return true;
    }

    void Write(const std::uint8_t* data, int count) override {
        if (lost_ || count <= 0) return;
        // What is queued now came late for an earlier request; it is no part of the answer
        // to this one.
        if (!PurgeComm(handle_, PURGE_RXCLEAR) && NoteError(GetLastError())) return;
        if (!ClearErrors()) return;
        OVERLAPPED io{};
        io.hEvent = events_[kWriteEvent];
        bool cancelled = false;
        if (!WriteFile(handle_, data, static_cast<DWORD>(count), nullptr, &io)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                NoteError(error);
                return;
            }
            if (WaitForSingleObject(io.hEvent, kWriteTimeoutMs) != WAIT_OBJECT_0) {
                // A line held up by flow control, or an adapter that takes nothing: the
                // rest of the frame is dropped.
                CancelIoEx(handle_, &io);
                PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
                cancelled = true;
            }
        }
        DWORD sent = 0;
        if (!GetOverlappedResult(handle_, &io, &sent, TRUE) && !cancelled)
            NoteError(GetLastError());
    }

    int Read(std::uint8_t* buffer, int capacity) override {
        if (lost_ || capacity <= 0) return 0;
        const auto deadline = Clock::now() + milliseconds(10 + capacity);
        const auto hold = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(hold_));
        Clock::time_point lastByte;
        int got = 0;
        bool lastLook = false;
        for (;;) {
            if (got < capacity) {
                const int n = TakeQueued(buffer + got, capacity - got);
                if (n < 0) return got;
                if (n > 0) {
                    got += n;
                    lastByte = Clock::now();
                }
            }
            if (got >= capacity || lastLook) return got;
            const auto now = Clock::now();
            // The bytes have stopped when the port's hold has passed since the last one.
            const bool held = got > 0 && hold_ > 0 && lastByte + hold < deadline;
            const auto until = held ? lastByte + hold : deadline;
            if (now >= until) {
                if (held) return got;
                // A thread held up past the deadline still takes what the driver queued in
                // the meantime: one more look, no wait.
                lastLook = true;
                continue;
            }
            const int came = AwaitByte(buffer + got, until);
            if (came < 0) return got;
            if (came > 0) {
                got += came;
                lastByte = Clock::now();
            }
        }
    }

    void Purge(PurgeKind kind) override {
        if (lost_) return;
        DWORD flags = PURGE_RXCLEAR | PURGE_TXCLEAR;
        if (kind == PurgeKind::AbortAndClear) flags |= PURGE_RXABORT | PURGE_TXABORT;
        if (!PurgeComm(handle_, flags)) NoteError(GetLastError());
    }

    void Close() override {
        if (handle_ != INVALID_HANDLE_VALUE) {
            // The port is left to the next program as this one found it.
            if (!lost_) {
                if (initialState_) SetCommState(handle_, &*initialState_);
                if (initialTimeouts_) SetCommTimeouts(handle_, &*initialTimeouts_);
            }
            CloseHandle(handle_);
            handle_ = INVALID_HANDLE_VALUE;
        }
        if (claim_) CloseHandle(claim_);
        claim_ = nullptr;
        lost_ = true;
        for (HANDLE& event : events_) {
            if (event) CloseHandle(event);
            event = nullptr;
        }
        if (timer_) CloseHandle(timer_);
        timer_ = nullptr;
    }

private:
    enum { kReadEvent, kWriteEvent, kIdleEvent, kEventCount };

    // Notes an error of an operation on the open port. Returns true when it means the port
    // is gone (an adapter pulled out, a driver that stopped): from then on every call does
    // nothing, and the missing answers end the session once.
    bool NoteError(DWORD error) {
        switch (error) {
        case ERROR_OPERATION_ABORTED: {
            // Also how a port that aborts on line errors refuses a transfer, and how one that
            // was cancelled ends: the port is still there while it answers.
            COMSTAT status{};
            DWORD errors = 0;
            if (ClearCommError(handle_, &errors, &status)) return false;
            break;
        }
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_FILE_NOT_FOUND:
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_IO_DEVICE:
        case ERROR_NOT_READY:
        case ERROR_BROKEN_PIPE:
            break;
        default:
            return false;
        }
        lost_ = true;
        return true;
    }

    // A port that aborts on line errors takes no transfer until its errors have been read.
    // Returns false when the port is lost.
    bool ClearErrors() {
        COMSTAT status{};
        DWORD errors = 0;
        return ClearCommError(handle_, &errors, &status) || !NoteError(GetLastError());
    }

    // Takes what the driver has queued, at most `room` bytes, without waiting. Returns the
    // number taken, or -1 when the port is lost.
    int TakeQueued(std::uint8_t* to, int room) {
        COMSTAT status{};
        DWORD errors = 0;
        if (!ClearCommError(handle_, &errors, &status)) return NoteError(GetLastError()) ? -1 : 0;
        const DWORD want = std::min(status.cbInQue, static_cast<DWORD>(room));
        if (want == 0) return 0;
        OVERLAPPED io{};
        io.hEvent = events_[kReadEvent];
        if (!ReadFile(handle_, to, want, nullptr, &io)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) return NoteError(error) ? -1 : 0;
            if (WaitForSingleObject(io.hEvent, kPromptLimitMs) != WAIT_OBJECT_0)
                CancelIoEx(handle_, &io);
        }
        DWORD n = 0;
        if (!GetOverlappedResult(handle_, &io, &n, TRUE)) {
            const DWORD error = GetLastError();
            // A read cut short keeps what it had.
            if (error != ERROR_OPERATION_ABORTED && NoteError(error)) return -1;
            if (error != ERROR_OPERATION_ABORTED) n = 0;
        }
        return static_cast<int>(std::min(n, want));
    }

    // Waits for the next byte until `until` with a read of one byte, cancelled when the time
    // is up: the driver completes the read as soon as a byte arrives. (The receive event
    // would do on Windows, but Wine's ends every wait on a pseudo-terminal within a few ms.)
    // Returns 1 when a byte came (stored at `to`), 0 when none did, -1 when the port is lost.
    int AwaitByte(std::uint8_t* to, Clock::time_point until) {
        OVERLAPPED io{};
        io.hEvent = events_[kReadEvent];
        bool cancelled = false;
        if (!ReadFile(handle_, to, 1, nullptr, &io)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                if (NoteError(error)) return -1;
                Idle(until);
                return 0;
            }
            if (!WaitUntil(io.hEvent, until)) {
                // A byte that comes while the read is being cancelled completes it instead.
                CancelIoEx(handle_, &io);
                cancelled = true;
            }
        }
        DWORD n = 0;
        if (!GetOverlappedResult(handle_, &io, &n, TRUE)) {
            const DWORD error = GetLastError();
            if (!(cancelled && error == ERROR_OPERATION_ABORTED) && NoteError(error)) return -1;
            return 0;
        }
        if (n > 0) return 1;
        // A read that ends empty before its time (a line hung up) is not retried at once.
        if (!cancelled) Idle(until);
        return 0;
    }

    // Waits for `event` until `until`. Returns true when it was set; false may still come
    // with the event set at the last moment, which the operation's result then tells.
    bool WaitUntil(HANDLE event, Clock::time_point until) {
        for (;;) {
            const auto left = until - Clock::now();
            if (left <= Clock::duration::zero()) return false;
            // Timed waits end on the system timer's tick, up to 16 ms late; a high-resolution
            // timer ends the wait on time where there is one.
            const auto ms = std::chrono::ceil<milliseconds>(left).count();
            DWORD result = WAIT_FAILED;
            if (timer_ && ArmTimer(left)) {
                const HANDLE both[] = {event, timer_};
                result = WaitForMultipleObjects(2, both, FALSE, static_cast<DWORD>(ms) + 20);
            } else {
                result = WaitForSingleObject(event, static_cast<DWORD>(ms));
            }
            if (result == WAIT_OBJECT_0) return true;
            if (result == WAIT_FAILED) return false;
        }
    }

    void Idle(Clock::time_point until) { WaitUntil(events_[kIdleEvent], until); }

    bool ArmTimer(Clock::duration left) {
        LARGE_INTEGER due;
        // Relative, in units of 100 ns, rounded up.
        due.QuadPart = -std::max<LONGLONG>(
            1, std::chrono::ceil<std::chrono::duration<LONGLONG, std::ratio<1, 10000000>>>(left)
                   .count());
        return SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
    }

    HANDLE handle_;
    HANDLE claim_;
    HANDLE events_[kEventCount] = {};
    HANDLE timer_ = nullptr;
    bool lost_ = false;
    PortKind kind_;
    int baud_ = 9600;
    int usbTimerMs_;
    double hold_;
    std::optional<DCB> initialState_;
    std::optional<COMMTIMEOUTS> initialTimeouts_;
};

std::string ReasonFor(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DEV_NOT_EXIST:
        return "Причина: порт не найден в системе.";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "Причина: порт уже занят (заблокирован другой программой).";
    default:
        return {};
    }
}

// A name for the port held by this session while the port is open: INVALID_HANDLE_VALUE when
// another one holds it, null when no name can be made (the driver alone decides then).
HANDLE ClaimPort(const std::string& systemName) {
    std::wstring name = BareName(systemName);
    // One name however the port is spelt; a backslash would be taken for a path.
    for (wchar_t& c : name) {
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c == L'\\') c = L'/';
    }
    const std::wstring object = L"Local\\torvik7-serial-port-" + name;
    const HANDLE claim = CreateMutexW(nullptr, FALSE, object.c_str());
    if (claim && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(claim);
        return INVALID_HANDLE_VALUE;
    }
    return claim;
}

class WinPortOpener final : public PortOpener {
public:
    explicit WinPortOpener(std::optional<PortKind> kind = std::nullopt) : kind_(kind) {}

    PortOpening Open(const std::string& name, PortOpenMode mode) override {
        PortOpening opening;
        const std::string systemName = SystemPortName(name);
        const std::wstring path = DevicePath(systemName);
        // Most drivers let one handle at a time have a port; the others (Wine's among them)
        // are kept to one by a name that exists while the port is open here.
        const HANDLE claim = ClaimPort(systemName);
        if (claim == INVALID_HANDLE_VALUE) {
            opening.outcome = PortOpenOutcome::CannotOpen;
            opening.reason = ReasonFor(ERROR_SHARING_VIOLATION);
            return opening;
        }
        const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (claim) CloseHandle(claim);
            opening.outcome = PortOpenOutcome::CannotOpen;
            opening.reason = ReasonFor(error);
            return opening;
        }
        // Windows has no general low-latency switch for a port; an adapter's latency timer
        // is its driver's setting and is only read here.
        PortFacts facts;
        if (!kind_ || *kind_ == PortKind::UsbAdapter) facts = Describe(systemName);
        if (kind_) facts.kind = *kind_;
        auto port = std::make_unique<WinSerialPort>(handle, claim, facts.kind, facts.usbTimerMs);
        if (!port->Usable()) {
            opening.outcome = PortOpenOutcome::CannotOpen;
            return opening;
        }
        opening.outcome = port->Configure(mode);
        opening.port = std::move(port);
        return opening;
    }

private:
    std::optional<PortKind> kind_;
};

void AddDeviceMapPorts(std::vector<SystemPortInfo>& ports, std::vector<std::wstring>& names) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &raw) !=
        ERROR_SUCCESS)
        return;
    const Key key(raw);
    for (DWORD i = 0;; ++i) {
        wchar_t device[256] = {};
        DWORD deviceLength = 255;
        wchar_t port[256] = {};
        DWORD portBytes = sizeof port - sizeof(wchar_t);
        DWORD type = 0;
        const LONG result = RegEnumValueW(raw, i, device, &deviceLength, nullptr, &type,
                                          reinterpret_cast<BYTE*>(port), &portBytes);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::wstring name = Trimmed(std::wstring(port, portBytes / sizeof(wchar_t)));
        if (name.empty()) continue;
        if (std::any_of(names.begin(), names.end(),
                        [&](const std::wstring& known) { return SameName(known, name); }))
            continue;
        names.push_back(name);
        ports.push_back({Narrow(name), {}});
    }
}

void AddDosDevicePorts(std::vector<SystemPortInfo>& ports, std::vector<std::wstring>& names) {
    std::vector<wchar_t> all(1 << 16);
    DWORD length = 0;
    while ((length = QueryDosDeviceW(nullptr, all.data(), static_cast<DWORD>(all.size()))) == 0) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || all.size() >= (1u << 22)) return;
        all.resize(all.size() * 4);
    }
    for (std::size_t i = 0; i < length && all[i] != L'\0';) {
        const std::wstring name(all.data() + i);
        i += name.size() + 1;
        if (ComNumber(name) < 0) continue;
        if (std::any_of(names.begin(), names.end(),
                        [&](const std::wstring& known) { return SameName(known, name); }))
            continue;
        names.push_back(name);
        ports.push_back({Narrow(name), {}});
    }
}

} // namespace

PortKind PortKindOf(const std::string& systemName) {
    return Describe(systemName).kind;
}

PortOpener& SystemPortOpener() {
    static WinPortOpener opener;
    return opener;
}

PortOpener& SystemPortOpenerAs(PortKind kind) {
    static WinPortOpener openers[] = {
        WinPortOpener(PortKind::Uart), WinPortOpener(PortKind::UsbAdapter),
        WinPortOpener(PortKind::PseudoTerminal), WinPortOpener(PortKind::Unknown)};
    return openers[static_cast<int>(kind)];
}

std::string SystemPortName(const std::string& listName) {
    return listName;
}

std::vector<SystemPortInfo> ListSystemSerialPorts() {
    std::vector<SystemPortInfo> ports;
    try {
        std::vector<std::wstring> names;
        for (const PortDevice& device : PortDevices()) {
            // The ports class holds the printer ports too.
            if (StartsWith(device.name, L"LPT")) continue;
            if (std::any_of(names.begin(), names.end(), [&](const std::wstring& known) {
                    return SameName(known, device.name);
                }))
                continue;
            names.push_back(device.name);
            ports.push_back({Narrow(device.name), Narrow(device.description)});
        }
        // Ports without a device of their own (Wine's, some virtual ones) are only in the
        // device map and among the DOS device names.
        if (ports.empty()) {
            AddDeviceMapPorts(ports, names);
            AddDosDevicePorts(ports, names);
        }
        std::stable_sort(ports.begin(), ports.end(),
                         [](const SystemPortInfo& a, const SystemPortInfo& b) {
                             const long x = ComNumber(Widen(a.name));
                             const long y = ComNumber(Widen(b.name));
                             if ((x < 0) != (y < 0)) return x >= 0;
                             if (x != y) return x < y;
                             return a.name < b.name;
                         });
    } catch (...) {
        return {};
    }
    return ports;
}
