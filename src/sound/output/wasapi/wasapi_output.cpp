// The WASAPI output. The render thread owns every COM object; it opens the default output, plays
// until that fails or the default changes, then opens whatever is the default then. With no device
// it waits and tries again: sound is never the reason the program stops or prints.
#include "sound/output/wasapi/wasapi_output.h"

#include <windows.h>
// clang-format off: these need windows.h first
#include <audioclient.h>
#include <avrt.h>
#include <mmdeviceapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <vector>

#include "sound/output/wasapi/mix_format.h"
#include "sound/output/wasapi/stream_refill.h"

namespace {

SRWLOCK mixLock = SRWLOCK_INIT;

// What a render thread shares with the rest; the thread frees it as it ends.
// Closing never waits for that longer than kWasapiCloseWaitMs: a thread stuck
// in the system ends on its own later, and touches nothing once told to stop.
struct RenderControl {
    HANDLE stop = nullptr;            // manual reset: set once, by CloseWasapiOutput
    HANDLE defaultChanged = nullptr;  // auto reset: the default output changed
    MixerPull pull;
};

HANDLE renderThread = nullptr;
RenderControl* control = nullptr;  // of renderThread, while it runs

// Auto reset: a new sound was asked for. Made once and kept for the
// process's life, as plays may come from the mixer's worker while the device
// closes and opens again; a signal left over costs one restart at most.
std::atomic<HANDLE> playStarted = nullptr;

template <typename T>
void ReleaseCom(T*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// Told by the system of changes to its audio endpoints; only a new default
// output matters here.
class DefaultOutputWatch : public IMMNotificationClient {
public:
    explicit DefaultOutputWatch(HANDLE changed) : changed_(changed) {}
    // Lives on the thread's stack, as long as the thread does.
    ULONG STDMETHODCALLTYPE AddRef() override {
        return 1;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        return 1;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IMMNotificationClient))) {
            *object = static_cast<IMMNotificationClient*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
        if (flow == eRender && role == eConsole) {
            SetEvent(changed_);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

private:
    HANDLE changed_;
};

struct Stream {
    MixerPull pull;
    IMMDevice* device = nullptr;
    IAudioClient* client = nullptr;
    IAudioRenderClient* render = nullptr;
    HANDLE periodDue = nullptr;
    MixLayout layout;
    UINT32 periodFrames = 0;
    UINT32 framesAhead = 0;
    std::vector<int16_t> mixed;  // stereo, framesAhead frames
    int64_t quietFrames = 0;     // mixed since the last sound's frame
    LONGLONG lastWake = 0;       // performance counter, at the last period's wake
    bool quirkSeen = false;      // it has run late or dry (stream_refill.h)
};

enum class Ending { Stopped, DefaultChanged, Failed };

// The engine's shortest period where the system lets a stream ask for it,
// its default otherwise.
bool InitializeClient(Stream& stream, const WAVEFORMATEX& format) {
    IAudioClient3* client3 = nullptr;
    if (SUCCEEDED(stream.client->QueryInterface(__uuidof(IAudioClient3),
                                                reinterpret_cast<void**>(&client3)))) {
        UINT32 defaultFrames = 0;
        UINT32 fundamentalFrames = 0;
        UINT32 minFrames = 0;
        UINT32 maxFrames = 0;
        const bool initialized =
            SUCCEEDED(client3->GetSharedModeEnginePeriod(
                &format, &defaultFrames, &fundamentalFrames, &minFrames, &maxFrames)) &&
            minFrames > 0 &&
            SUCCEEDED(client3->InitializeSharedAudioStream(AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                                           minFrames, &format, nullptr));
        ReleaseCom(client3);
        if (initialized) {
            stream.periodFrames = minFrames;
            return true;
        }
    }
    const REFERENCE_TIME period = REFERENCE_TIME{kWasapiFallbackPeriodMs} * 10'000;  // 100 ns units
    if (FAILED(stream.client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                         AUDCLNT_STREAMFLAGS_EVENTCALLBACK, period, 0, &format,
                                         nullptr))) {
        return false;
    }
    stream.periodFrames = static_cast<UINT32>(stream.layout.rate * kWasapiFallbackPeriodMs / 1000);
    return true;
}

// Tops the queue up to framesAhead with the mixer's next frames.
bool Fill(Stream& stream) {
    UINT32 padding = 0;
    if (FAILED(stream.client->GetCurrentPadding(&padding))) {
        return false;
    }
    if (padding >= stream.framesAhead) {
        return true;
    }
    const UINT32 frames = stream.framesAhead - padding;
    BYTE* data = nullptr;
    if (FAILED(stream.render->GetBuffer(frames, &data))) {
        return false;
    }
    LockWasapiOutput();
    const bool sounded = stream.pull.mix(stream.mixed.data(), frames, stream.layout.rate);
    UnlockWasapiOutput();
    stream.quietFrames = sounded ? 0 : stream.quietFrames + frames;
    ConvertMixFrames(stream.mixed.data(), frames, stream.layout, data);
    return SUCCEEDED(stream.render->ReleaseBuffer(frames, 0));
}

void CloseStream(Stream& stream) {
    if (stream.client != nullptr) {
        stream.client->Stop();
    }
    ReleaseCom(stream.render);
    ReleaseCom(stream.client);
    ReleaseCom(stream.device);
    if (stream.periodDue != nullptr) {
        CloseHandle(stream.periodDue);
        stream.periodDue = nullptr;
    }
}

// Opens the default output and starts it with its queue already full, so
// that its first period is the mixer's.
bool OpenStream(IMMDeviceEnumerator& enumerator, HANDLE stop, Stream& stream) {
    if (FAILED(enumerator.GetDefaultAudioEndpoint(eRender, eConsole, &stream.device)) ||
        FAILED(stream.device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                       reinterpret_cast<void**>(&stream.client)))) {
        return false;
    }
    WAVEFORMATEX* format = nullptr;
    if (FAILED(stream.client->GetMixFormat(&format))) {
        return false;
    }
    const bool initialized =
        ReadMixLayout(*format, stream.layout) && InitializeClient(stream, *format);
    CoTaskMemFree(format);
    UINT32 bufferFrames = 0;
    stream.periodDue = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!initialized || stream.periodDue == nullptr ||
        FAILED(stream.client->SetEventHandle(stream.periodDue)) ||
        FAILED(stream.client->GetBufferSize(&bufferFrames)) ||
        FAILED(stream.client->GetService(__uuidof(IAudioRenderClient),
                                         reinterpret_cast<void**>(&stream.render)))) {
        return false;
    }
    stream.framesAhead =
        std::min(bufferFrames, stream.periodFrames * static_cast<UINT32>(kWasapiPeriodsAhead));
    stream.mixed.assign(static_cast<size_t>(stream.framesAhead) * 2, 0);
    return WaitForSingleObject(stop, 0) != WAIT_OBJECT_0 && Fill(stream) &&
           SUCCEEDED(stream.client->Start());
}

// Queues `frames` of silence, which the engine plays as it would the mixer's.
bool QueueSilence(Stream& stream, UINT32 frames) {
    BYTE* data = nullptr;
    return SUCCEEDED(stream.render->GetBuffer(frames, &data)) &&
           SUCCEEDED(stream.render->ReleaseBuffer(frames, AUDCLNT_BUFFERFLAGS_SILENT));
}

// Drops all that is queued, in the engine and below it, and starts again
// with a full queue. A sound server that ran dry can leave every later frame
// that much late for good (wine's PulseAudio driver pads the gap with
// silence and keeps what it could not pass on), and only a reset clears it.
// The queue starts again with silence: only quiet was queued.
bool Restart(Stream& stream) {
    stream.quietFrames = 0;
    return SUCCEEDED(stream.client->Stop()) && SUCCEEDED(stream.client->Reset()) &&
           QueueSilence(stream, stream.framesAhead) && SUCCEEDED(stream.client->Start());
}

// A new sound goes to the head of the queue instead of behind it: the queue
// is dropped and starts again with the mixer's next frames. The mixer takes
// back first the frames that were dropped unheard, so a sound cut off fades
// from the frame last heard rather than jumping ahead. (Under wine the server
// may still hold frames its driver counts as played, so there the fade may
// start a little further on.)
bool RestartAtPlay(Stream& stream) {
    UINT32 unheard = 0;
    if (FAILED(stream.client->Stop()) || FAILED(stream.client->GetCurrentPadding(&unheard)) ||
        FAILED(stream.client->Reset())) {
        return false;
    }
    LockWasapiOutput();
    stream.pull.takeBack(unheard, stream.layout.rate);
    UnlockWasapiOutput();
    return Fill(stream) && SUCCEEDED(stream.client->Start());
}

LONGLONG Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Tops the queue up or drops it (stream_refill.h), and notes the wake.
bool Refill(Stream& stream, LONGLONG ticksPerSecond) {
    WakeSeen seen;
    seen.late = stream.lastWake != 0 &&
                (Now() - stream.lastWake) * 1000 > ticksPerSecond * kWasapiLateWakeMs;
    UINT32 padding = 0;
    if (FAILED(stream.client->GetCurrentPadding(&padding))) {
        return false;
    }
    seen.drained = stream.lastWake != 0 && padding == 0;
    seen.queueQuiet = stream.quietFrames >= stream.framesAhead;
    seen.quietMs = stream.quietFrames * 1000 / stream.layout.rate;
    const bool filled = ChooseRefill(seen, stream.quirkSeen) == RefillAction::Restart
                            ? Restart(stream)
                            : Fill(stream);
    stream.lastWake = Now();  // the restart's own time is no lateness
    return filled;
}

Ending Play(const RenderControl& control, Stream& stream) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // A play before a period: of two signalled, the first in the list wins.
    const HANDLE waits[] = {control.stop, control.defaultChanged, playStarted.load(),
                            stream.periodDue};
    for (;;) {
        switch (WaitForMultipleObjects(4, waits, FALSE, kWasapiStallMs)) {
            case WAIT_OBJECT_0:
                return Ending::Stopped;
            case WAIT_OBJECT_0 + 1:
                return Ending::DefaultChanged;
            case WAIT_OBJECT_0 + 2:
                if (!RestartAtPlay(stream)) {
                    return Ending::Failed;
                }
                stream.lastWake = Now();  // the restart's own time is no lateness
                break;
            case WAIT_OBJECT_0 + 3:
                if (!Refill(stream, frequency.QuadPart)) {
                    return Ending::Failed;  // the device went away, or the audio service
                }
                break;
            default:
                return Ending::Failed;  // stalled
        }
    }
}

IMMDeviceEnumerator* MakeEnumerator(DefaultOutputWatch& watch) {
    IMMDeviceEnumerator* enumerator = nullptr;
    // In-process only: asked for a local server as well, wine without a sound
    // driver looks for one for 10 s before it fails.
    if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(IMMDeviceEnumerator),
                                reinterpret_cast<void**>(&enumerator)))) {
        return nullptr;
    }
    enumerator->RegisterEndpointNotificationCallback(&watch);
    return enumerator;
}

void DropEnumerator(IMMDeviceEnumerator*& enumerator, DefaultOutputWatch& watch) {
    if (enumerator != nullptr) {
        enumerator->UnregisterEndpointNotificationCallback(&watch);
        ReleaseCom(enumerator);
    }
}

DWORD WINAPI Render(LPVOID parameter) {
    RenderControl* const control = static_cast<RenderControl*>(parameter);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    DWORD taskIndex = 0;
    const HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &taskIndex);
    DefaultOutputWatch watch(control->defaultChanged);
    IMMDeviceEnumerator* enumerator = nullptr;
    for (;;) {
        if (enumerator == nullptr) {
            enumerator = MakeEnumerator(watch);
        }
        Stream stream;
        stream.pull = control->pull;
        const bool opened = enumerator != nullptr && OpenStream(*enumerator, control->stop, stream);
        const Ending ending = opened ? Play(*control, stream) : Ending::Failed;
        CloseStream(stream);
        if (!opened) {
            DropEnumerator(enumerator, watch);  // the audio service may have restarted
        }
        if (ending == Ending::Stopped) {
            break;
        }
        if (ending == Ending::Failed) {
            const HANDLE waits[] = {control->stop, control->defaultChanged};
            if (WaitForMultipleObjects(2, waits, FALSE, kWasapiRetryMs) == WAIT_OBJECT_0) {
                break;
            }
        }
    }
    DropEnumerator(enumerator, watch);
    if (task != nullptr) {
        AvRevertMmThreadCharacteristics(task);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    CloseHandle(control->stop);
    CloseHandle(control->defaultChanged);
    delete control;
    return 0;
}

}  // namespace

bool OpenWasapiOutput(const MixerPull& pull) {
    if (renderThread != nullptr) {
        return true;
    }
    if (playStarted.load() == nullptr) {
        playStarted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (playStarted.load() == nullptr) {
            return false;
        }
    }
    auto* made = new RenderControl;
    made->stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    made->defaultChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    made->pull = pull;
    if (made->stop != nullptr && made->defaultChanged != nullptr) {
        renderThread = CreateThread(nullptr, 0, Render, made, 0, nullptr);
    }
    if (renderThread == nullptr) {
        if (made->stop != nullptr) {
            CloseHandle(made->stop);
        }
        if (made->defaultChanged != nullptr) {
            CloseHandle(made->defaultChanged);
        }
        delete made;
        return false;
    }
    control = made;
    return true;
}

void CloseWasapiOutput() {
    if (renderThread == nullptr) {
        return;
    }
    SetEvent(control->stop);  // the thread frees control, but not before this
    WaitForSingleObject(renderThread, kWasapiCloseWaitMs);
    CloseHandle(renderThread);
    renderThread = nullptr;
    control = nullptr;
}

void LockWasapiOutput() {
    AcquireSRWLockExclusive(&mixLock);
}

void UnlockWasapiOutput() {
    ReleaseSRWLockExclusive(&mixLock);
}

void SkipWasapiQueue() {
    const HANDLE play = playStarted.load();
    if (play != nullptr) {
        SetEvent(play);
    }
}

bool DescribeWasapiOutput(const MixerPull& pull, SoundDeviceFacts& facts) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DefaultOutputWatch watch(changed);
    IMMDeviceEnumerator* enumerator = MakeEnumerator(watch);
    Stream stream;
    stream.pull = pull;
    const bool open =
        enumerator != nullptr && stop != nullptr && OpenStream(*enumerator, stop, stream);
    if (open) {
        facts.driver = "WASAPI shared mode, default output";
        facts.rate = stream.layout.rate;
        facts.periodFrames = static_cast<int32_t>(stream.periodFrames);
        facts.silent = false;
    }
    CloseStream(stream);
    DropEnumerator(enumerator, watch);
    for (const HANDLE event : {stop, changed}) {
        if (event != nullptr) {
            CloseHandle(event);
        }
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return open;
}
