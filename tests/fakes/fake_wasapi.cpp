#include "fake_wasapi.h"

// clang-format off: these need windows.h first
#include <audioclient.h>
#include <mmdeviceapi.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>

namespace {

// Far past the output's own bound for a late wake, so that a busy machine
// cannot make the wake look on time.
constexpr DWORD kDryPauseMs = 200;

// What bytes the engine lends for a buffer hold before the output writes
// them: neither silence nor any frame the mixer's frames convert into.
constexpr uint8_t kUnwritten = 0xA5;

struct Core {
    FakeEngineShape shape;
    mutable std::mutex mutex;
    bool initialized = false;  // the client's state, from its last Activate on
    bool running = false;
    UINT32 periodFrames = 0;
    HANDLE periodDue = nullptr;
    std::deque<PlayedFrame> queued;
    std::vector<PlayedFrame> played;
    std::vector<uint8_t> lent;  // GetBuffer's bytes
    bool lending = false;
    UINT32 lentFrames = 0;
    int resets = 0;
    bool dryWakeAsked = false;
    std::vector<std::string> misuses;
    std::atomic<long> references{0};

    const WAVEFORMATEX& Format() const {
        return shape.mixFormat.Format;
    }
    bool IsFloat() const {
        return Format().wFormatTag == WAVE_FORMAT_IEEE_FLOAT ||
               (Format().wFormatTag == WAVE_FORMAT_EXTENSIBLE &&
                IsEqualGUID(shape.mixFormat.SubFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT));
    }
    UINT32 DefaultPeriodFrames() const {
        return Format().nSamplesPerSec / 100;
    }
    HRESULT Misused(HRESULT result, const char* what) {
        misuses.emplace_back(what);
        return result;
    }
    bool SameFormat(const WAVEFORMATEX* format) const {
        return format != nullptr && format->cbSize == Format().cbSize &&
               std::memcmp(format, &Format(), sizeof(WAVEFORMATEX) + format->cbSize) == 0;
    }

    std::optional<int16_t> SampleAt(const uint8_t* bytes) const {
        if (!IsFloat()) {
            int16_t sample;
            std::memcpy(&sample, bytes, sizeof sample);
            return sample;
        }
        float value;
        std::memcpy(&value, bytes, sizeof value);
        const double scaled = static_cast<double>(value) * 32768.0;
        if (!(scaled >= -32768.0 && scaled <= 32767.0) || scaled != std::floor(scaled)) {
            return std::nullopt;
        }
        return static_cast<int16_t>(scaled);
    }

    PlayedFrame FrameAt(const uint8_t* bytes) const {
        const size_t sampleBytes = IsFloat() ? 4 : 2;
        int16_t samples[2] = {0, 0};
        for (WORD c = 0; c < Format().nChannels; ++c) {
            const std::optional<int16_t> sample = SampleAt(bytes + c * sampleBytes);
            if (!sample || (c >= 2 && *sample != 0)) {
                return std::nullopt;
            }
            if (c < 2) {
                samples[c] = *sample;
            }
        }
        return StereoFrame{samples[0], samples[1]};
    }

    void Play(size_t frames) {
        frames = std::min(frames, queued.size());
        played.insert(played.end(), queued.begin(), queued.begin() + frames);
        queued.erase(queued.begin(), queued.begin() + frames);
    }
};

// Lives as long as the engine: a release to none only counts.
template <typename Interface>
class Counted : public Interface {
public:
    explicit Counted(Core& core) : core_(core) {}
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(++core_.references);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        return static_cast<ULONG>(--core_.references);
    }

protected:
    template <typename Handed>
    HRESULT Hand(Handed* object, void** out) {
        *out = object;
        AddRef();
        return S_OK;
    }
    HRESULT Refuse(void** out) {
        *out = nullptr;
        return E_NOINTERFACE;
    }

    Core& core_;
};

class FakeRender : public Counted<IAudioRenderClient> {
public:
    using Counted::Counted;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IAudioRenderClient))) {
            return Hand(static_cast<IAudioRenderClient*>(this), out);
        }
        return Refuse(out);
    }
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override {
        const std::lock_guard lock(core_.mutex);
        if (core_.lending) {
            return core_.Misused(AUDCLNT_E_OUT_OF_ORDER, "GetBuffer before ReleaseBuffer");
        }
        if (core_.queued.size() + frames > core_.shape.bufferFrames) {
            return core_.Misused(AUDCLNT_E_BUFFER_TOO_LARGE, "GetBuffer past the buffer");
        }
        core_.lent.assign(static_cast<size_t>(frames) * core_.Format().nBlockAlign, kUnwritten);
        core_.lending = true;
        core_.lentFrames = frames;
        *data = core_.lent.data();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD flags) override {
        const std::lock_guard lock(core_.mutex);
        if (!core_.lending) {
            return core_.Misused(AUDCLNT_E_OUT_OF_ORDER, "ReleaseBuffer without GetBuffer");
        }
        if (frames > core_.lentFrames) {
            return core_.Misused(AUDCLNT_E_INVALID_SIZE, "ReleaseBuffer past GetBuffer's");
        }
        for (UINT32 i = 0; i < frames; ++i) {
            core_.queued.push_back(
                (flags & AUDCLNT_BUFFERFLAGS_SILENT) != 0
                    ? PlayedFrame{StereoFrame{0, 0}}
                    : core_.FrameAt(core_.lent.data() + i * core_.Format().nBlockAlign));
        }
        core_.lending = false;
        return S_OK;
    }
};

class FakeClient : public Counted<IAudioClient3> {
public:
    FakeClient(Core& core, FakeRender& render) : Counted(core), render_(render) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        const bool three = core_.shape.minPeriodFrames > 0;
        if (IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IAudioClient)) ||
            (three && (IsEqualIID(id, __uuidof(IAudioClient2)) ||
                       IsEqualIID(id, __uuidof(IAudioClient3))))) {
            return Hand(static_cast<IAudioClient3*>(this), out);
        }
        return Refuse(out);
    }
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE mode, DWORD flags, REFERENCE_TIME,
                                         REFERENCE_TIME, const WAVEFORMATEX* format,
                                         LPCGUID) override {
        const std::lock_guard lock(core_.mutex);
        return Begin(mode == AUDCLNT_SHAREMODE_SHARED, flags, format, core_.DefaultPeriodFrames());
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
        const std::lock_guard lock(core_.mutex);
        if (!core_.initialized) {
            return core_.Misused(AUDCLNT_E_NOT_INITIALIZED, "GetBufferSize before Initialize");
        }
        *frames = core_.shape.bufferFrames;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* frames) override {
        const std::lock_guard lock(core_.mutex);
        if (!core_.initialized) {
            return core_.Misused(AUDCLNT_E_NOT_INITIALIZED, "GetCurrentPadding before Initialize");
        }
        *frames = static_cast<UINT32>(core_.queued.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*,
                                                WAVEFORMATEX**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        const size_t size = sizeof(WAVEFORMATEX) + core_.Format().cbSize;
        *format = static_cast<WAVEFORMATEX*>(CoTaskMemAlloc(size));
        if (*format == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(*format, &core_.Format(), size);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Start() override {
        const std::lock_guard lock(core_.mutex);
        if (!core_.initialized || core_.periodDue == nullptr) {
            return core_.Misused(AUDCLNT_E_NOT_INITIALIZED, "Start before Initialize");
        }
        if (core_.running) {
            return core_.Misused(AUDCLNT_E_NOT_STOPPED, "Start while running");
        }
        core_.running = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        const std::lock_guard lock(core_.mutex);
        if (!core_.initialized) {
            return core_.Misused(AUDCLNT_E_NOT_INITIALIZED, "Stop before Initialize");
        }
        const bool was = core_.running;
        core_.running = false;
        return was ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        const std::lock_guard lock(core_.mutex);
        if (core_.running) {
            return core_.Misused(AUDCLNT_E_NOT_STOPPED, "Reset while running");
        }
        if (core_.lending) {
            return core_.Misused(AUDCLNT_E_BUFFER_OPERATION_PENDING, "Reset while lending");
        }
        core_.queued.clear();
        ++core_.resets;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE event) override {
        const std::lock_guard lock(core_.mutex);
        core_.periodDue = event;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID id, void** out) override {
        if (IsEqualIID(id, __uuidof(IAudioRenderClient))) {
            return render_.QueryInterface(id, out);
        }
        return Refuse(out);
    }
    HRESULT STDMETHODCALLTYPE IsOffloadCapable(AUDIO_STREAM_CATEGORY, WINBOOL* capable) override {
        *capable = FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetClientProperties(const AudioClientProperties*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetBufferSizeLimits(const WAVEFORMATEX*, WINBOOL, REFERENCE_TIME*,
                                                  REFERENCE_TIME*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetSharedModeEnginePeriod(const WAVEFORMATEX* format,
                                                        UINT32* standard, UINT32* fundamental,
                                                        UINT32* shortest,
                                                        UINT32* longest) override {
        if (!core_.SameFormat(format)) {
            return AUDCLNT_E_UNSUPPORTED_FORMAT;
        }
        *standard = core_.DefaultPeriodFrames();
        *fundamental = core_.shape.minPeriodFrames;
        *shortest = core_.shape.minPeriodFrames;
        *longest = core_.DefaultPeriodFrames();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentSharedModeEnginePeriod(WAVEFORMATEX**, UINT32*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE InitializeSharedAudioStream(DWORD flags, UINT32 period,
                                                          const WAVEFORMATEX* format,
                                                          LPCGUID) override {
        const std::lock_guard lock(core_.mutex);
        if (period < core_.shape.minPeriodFrames || period > core_.DefaultPeriodFrames() ||
            period % core_.shape.minPeriodFrames != 0) {
            return core_.Misused(E_INVALIDARG, "a period the engine does not run at");
        }
        return Begin(true, flags, format, period);
    }

private:
    HRESULT Begin(bool shared, DWORD flags, const WAVEFORMATEX* format, UINT32 period) {
        if (core_.initialized) {
            return core_.Misused(AUDCLNT_E_ALREADY_INITIALIZED, "initialized twice");
        }
        if (!shared || (flags & AUDCLNT_STREAMFLAGS_EVENTCALLBACK) == 0) {
            return core_.Misused(E_INVALIDARG, "not a shared, event-driven stream");
        }
        if (!core_.SameFormat(format)) {
            return core_.Misused(AUDCLNT_E_UNSUPPORTED_FORMAT, "not the mix format");
        }
        core_.initialized = true;
        core_.periodFrames = period;
        return S_OK;
    }

    FakeRender& render_;
};

class FakeDevice : public Counted<IMMDevice> {
public:
    FakeDevice(Core& core, FakeClient& client) : Counted(core), client_(client) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IMMDevice))) {
            return Hand(static_cast<IMMDevice*>(this), out);
        }
        return Refuse(out);
    }
    // Each client comes new, as one the output let go of is gone with its queue.
    HRESULT STDMETHODCALLTYPE Activate(REFIID id, DWORD, PROPVARIANT*, void** out) override {
        if (!IsEqualIID(id, __uuidof(IAudioClient))) {
            return Refuse(out);
        }
        {
            const std::lock_guard lock(core_.mutex);
            core_.initialized = false;
            core_.running = false;
            core_.periodDue = nullptr;
            core_.queued.clear();
            core_.lending = false;
        }
        return client_.QueryInterface(id, out);
    }
    HRESULT STDMETHODCALLTYPE OpenPropertyStore(DWORD, IPropertyStore**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetId(LPWSTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetState(DWORD* state) override {
        *state = DEVICE_STATE_ACTIVE;
        return S_OK;
    }

private:
    FakeClient& client_;
};

class FakeEnumerator : public Counted<IMMDeviceEnumerator> {
public:
    FakeEnumerator(Core& core, FakeDevice& device) : Counted(core), device_(device) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IMMDeviceEnumerator))) {
            return Hand(static_cast<IMMDeviceEnumerator*>(this), out);
        }
        return Refuse(out);
    }
    HRESULT STDMETHODCALLTYPE EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDefaultAudioEndpoint(EDataFlow flow, ERole,
                                                      IMMDevice** device) override {
        if (flow != eRender) {
            *device = nullptr;
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        }
        return device_.QueryInterface(__uuidof(IMMDevice), reinterpret_cast<void**>(device));
    }
    HRESULT STDMETHODCALLTYPE GetDevice(LPCWSTR, IMMDevice**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE
    RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return S_OK;
    }

private:
    FakeDevice& device_;
};

// COM holds it from registration to revocation; not counted as the output's.
class FakeFactory : public IClassFactory {
public:
    explicit FakeFactory(FakeEnumerator& enumerator) : enumerator_(enumerator) {}
    ULONG STDMETHODCALLTYPE AddRef() override {
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        return 1;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (IsEqualIID(id, __uuidof(IUnknown)) || IsEqualIID(id, __uuidof(IClassFactory))) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID id, void** out) override {
        if (outer != nullptr) {
            *out = nullptr;
            return CLASS_E_NOAGGREGATION;
        }
        return enumerator_.QueryInterface(id, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override {
        return S_OK;
    }

private:
    FakeEnumerator& enumerator_;
};

DWORD PeriodMs(const Core& core) {
    const UINT32 frames = core.periodFrames > 0 ? core.periodFrames : core.DefaultPeriodFrames();
    return std::max<DWORD>(1, frames * 1000 / core.Format().nSamplesPerSec);
}

}  // namespace

struct FakeWasapiEngine::State {
    explicit State(const FakeEngineShape& shape) {
        core.shape = shape;
    }
    Core core;
    FakeRender render{core};
    FakeClient client{core, render};
    FakeDevice device{core, client};
    FakeEnumerator enumerator{core, device};
    FakeFactory factory{enumerator};
    HRESULT com = E_FAIL;
    DWORD cookie = 0;
    bool registered = false;
    HANDLE quit = nullptr;
    HANDLE clock = nullptr;
};

namespace {

// Plays a period's frames each period while the client runs, and then
// signals the output, as the engine would; a dry wake plays all that is
// queued after a pause.
DWORD WINAPI Clock(LPVOID parameter) {
    auto& state = *static_cast<FakeWasapiEngine::State*>(parameter);
    Core& core = state.core;
    for (;;) {
        bool dry = false;
        DWORD pause = 0;
        {
            const std::lock_guard lock(core.mutex);
            dry = core.dryWakeAsked && core.running;
            pause = dry ? kDryPauseMs : PeriodMs(core);
        }
        if (WaitForSingleObject(state.quit, pause) == WAIT_OBJECT_0) {
            return 0;
        }
        const std::lock_guard lock(core.mutex);
        if (!core.running) {
            continue;
        }
        core.Play(dry ? core.queued.size() : core.periodFrames);
        if (dry) {
            core.dryWakeAsked = false;
        }
        SetEvent(core.periodDue);
    }
}

}  // namespace

FakeWasapiEngine::FakeWasapiEngine(const FakeEngineShape& shape)
    : state_(std::make_unique<State>(shape)) {
    state_->com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    state_->registered =
        SUCCEEDED(state_->com) &&
        SUCCEEDED(CoRegisterClassObject(__uuidof(MMDeviceEnumerator), &state_->factory,
                                        CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &state_->cookie));
    state_->quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    state_->clock = CreateThread(nullptr, 0, Clock, state_.get(), 0, nullptr);
}

FakeWasapiEngine::~FakeWasapiEngine() {
    SetEvent(state_->quit);
    if (state_->clock != nullptr) {
        WaitForSingleObject(state_->clock, INFINITE);
        CloseHandle(state_->clock);
    }
    CloseHandle(state_->quit);
    if (state_->registered) {
        CoRevokeClassObject(state_->cookie);
    }
    if (SUCCEEDED(state_->com)) {
        CoUninitialize();
    }
}

bool FakeWasapiEngine::Registered() const {
    return state_->registered && state_->clock != nullptr;
}

size_t FakeWasapiEngine::PlayedCount() const {
    const std::lock_guard lock(state_->core.mutex);
    return state_->core.played.size();
}

std::vector<PlayedFrame> FakeWasapiEngine::Played(size_t from) const {
    const std::lock_guard lock(state_->core.mutex);
    const auto& played = state_->core.played;
    return {played.begin() + static_cast<ptrdiff_t>(std::min(from, played.size())), played.end()};
}

size_t FakeWasapiEngine::QueuedSound() const {
    const std::lock_guard lock(state_->core.mutex);
    const auto& queued = state_->core.queued;
    return static_cast<size_t>(std::count_if(queued.begin(), queued.end(), [](const auto& frame) {
        return frame != PlayedFrame{StereoFrame{0, 0}};
    }));
}

int FakeWasapiEngine::Resets() const {
    const std::lock_guard lock(state_->core.mutex);
    return state_->core.resets;
}

void FakeWasapiEngine::WakeLateAndDry() {
    const std::lock_guard lock(state_->core.mutex);
    state_->core.dryWakeAsked = true;
}

std::vector<std::string> FakeWasapiEngine::Misuses() const {
    const std::lock_guard lock(state_->core.mutex);
    return state_->core.misuses;
}

long FakeWasapiEngine::References() const {
    return state_->core.references.load();
}
