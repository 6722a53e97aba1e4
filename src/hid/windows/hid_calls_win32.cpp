// The Windows HID library's Win32 calls, made for real.
#include <windows.h>
// clang-format off: setupapi needs windows.h first
#include <setupapi.h>
// clang-format on

// mingw-w64's HID headers declare C functions without extern "C".
extern "C" {
#include <hidsdi.h>
}

#include "hid/windows/hid_calls.h"

namespace hidcalls {

namespace {

HANDLE AsHandle(Device device) {
    return static_cast<HANDLE>(device);
}

// Ends an overlapped operation that has not completed: cancelled, then
// waited for, since the system writes into `overlapped` and the buffer until
// it is done. Returns the bytes it moved if it completed after all.
bool FinishCancelled(HANDLE handle, OVERLAPPED& overlapped, DWORD& moved) {
    CancelIoEx(handle, &overlapped);
    return GetOverlappedResult(handle, &overlapped, &moved, TRUE) != FALSE;
}

}  // namespace

std::vector<std::string> ListInterfaces() {
    std::vector<std::string> paths;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return paths;
    }
    SP_DEVICE_INTERFACE_DATA entry{};
    entry.cbSize = sizeof entry;
    for (DWORD index = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &entry);
         ++index) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &entry, nullptr, 0, &needed, nullptr);
        if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            continue;
        }
        std::vector<uint8_t> storage(needed);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &entry, detail, needed, nullptr, nullptr)) {
            paths.emplace_back(detail->DevicePath);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

bool Identify(const std::string& path, Identity& identity) {
    HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    const bool known = HidD_GetAttributes(handle, &attributes) != FALSE;
    CloseHandle(handle);
    identity.vendorId = attributes.VendorID;
    identity.productId = attributes.ProductID;
    return known;
}

Device Open(const std::string& path, OpenFailure* why) {
    HANDLE handle =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        return handle;
    }
    if (why != nullptr) {
        switch (GetLastError()) {
            case ERROR_SHARING_VIOLATION:
                *why = OpenFailure::Held;
                break;
            case ERROR_ACCESS_DENIED:
                *why = OpenFailure::Denied;
                break;
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_DEVICE_NOT_CONNECTED:
                *why = OpenFailure::Gone;
                break;
            default:
                *why = OpenFailure::Other;
        }
    }
    return nullptr;
}

bool ReportLengths(Device device, int32_t& inputLength, int32_t& outputLength) {
    PHIDP_PREPARSED_DATA parsed = nullptr;
    if (!HidD_GetPreparsedData(AsHandle(device), &parsed)) {
        return false;
    }
    HIDP_CAPS caps{};
    const bool known = HidP_GetCaps(parsed, &caps) == HIDP_STATUS_SUCCESS;
    HidD_FreePreparsedData(parsed);
    inputLength = caps.InputReportByteLength;
    outputLength = caps.OutputReportByteLength;
    return known;
}

void SetInputBuffers(Device device, int32_t count) {
    HidD_SetNumInputBuffers(AsHandle(device), static_cast<ULONG>(count));
}

int32_t Read(Device device, uint8_t* dest, int32_t capacity, int32_t timeoutMs, WakeSignal wake) {
    HANDLE handle = AsHandle(device);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return -1;
    }
    DWORD moved = 0;
    int32_t result = -1;
    if (ReadFile(handle, dest, static_cast<DWORD>(capacity), &moved, &overlapped)) {
        result = static_cast<int32_t>(moved);
    } else if (GetLastError() == ERROR_IO_PENDING) {
        const HANDLE waits[2] = {overlapped.hEvent, static_cast<HANDLE>(wake)};
        const DWORD count = wake != nullptr ? 2 : 1;
        const DWORD woke =
            WaitForMultipleObjects(count, waits, FALSE, static_cast<DWORD>(timeoutMs));
        if (woke == WAIT_OBJECT_0) {
            result = GetOverlappedResult(handle, &overlapped, &moved, FALSE)
                         ? static_cast<int32_t>(moved)
                         : -1;
        } else if (FinishCancelled(handle, overlapped, moved)) {
            // The report came while the read was being cancelled.
            result = static_cast<int32_t>(moved);
        } else {
            result = GetLastError() == ERROR_OPERATION_ABORTED ? 0 : -1;
        }
    }
    CloseHandle(overlapped.hEvent);
    return result;
}

WriteResult Write(Device device, const uint8_t* report, int32_t length, int32_t timeoutMs) {
    HANDLE handle = AsHandle(device);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) {
        return WriteResult::Failed;
    }
    DWORD moved = 0;
    bool sent = WriteFile(handle, report, static_cast<DWORD>(length), &moved, &overlapped) != FALSE;
    DWORD error = sent ? ERROR_SUCCESS : GetLastError();
    if (!sent && error == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(timeoutMs)) ==
            WAIT_OBJECT_0) {
            sent = GetOverlappedResult(handle, &overlapped, &moved, FALSE) != FALSE;
        } else {
            // Not out within the bound: a remote that vanished must not
            // hold the program's loop.
            sent = FinishCancelled(handle, overlapped, moved);
        }
        error = sent ? ERROR_SUCCESS : GetLastError();
    }
    CloseHandle(overlapped.hEvent);
    if (sent) {
        return WriteResult::Sent;
    }
    if (error == ERROR_INVALID_USER_BUFFER || error == ERROR_INVALID_PARAMETER) {
        return WriteResult::LengthRejected;
    }
    return WriteResult::Failed;
}

bool SetOutputReport(Device device, const uint8_t* report, int32_t length) {
    // The call takes a writable buffer but does not change it.
    std::vector<uint8_t> copy(report, report + length);
    return HidD_SetOutputReport(AsHandle(device), copy.data(), static_cast<ULONG>(length)) != FALSE;
}

void Close(Device device) {
    CloseHandle(AsHandle(device));
}

WakeSignal NewWakeSignal() {
    return CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void Wake(WakeSignal wake) {
    SetEvent(static_cast<HANDLE>(wake));
}

void ClearWake(WakeSignal wake) {
    ResetEvent(static_cast<HANDLE>(wake));
}

}  // namespace hidcalls
