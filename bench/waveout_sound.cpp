// The older way to stream sound on Windows, for comparison only: the same
// mixer and decoder as the program's, under a waveOut output fed 10 ms
// buffers, in a table of its own in place of the program's. Linked into
// glowbrand-scripted-waveout.exe.
#include <windows.h>
// clang-format off: mmsystem needs windows.h first
#include <mmsystem.h>
// clang-format on

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "config.h"
#include "sound/output/output.h"

namespace {

constexpr int32_t kBufferFrames = kOutputRate / 100;  // 10 ms
// Fewer than three leave waveOut waiting on the thread between two buffers.
constexpr int kBuffers = 3;

HWAVEOUT device = nullptr;
HANDLE bufferDone = nullptr;  // signalled by waveOut as each buffer finishes
std::vector<int16_t> samples(kBuffers* kBufferFrames* kOutputChannels);
WAVEHDR headers[kBuffers];
std::thread feeder;
std::atomic<bool> stopping{false};
std::mutex mixing;
MixerPull pulling;  // set before the first buffer is filled

void Fill(WAVEHDR& header) {
    mixing.lock();
    pulling.mix(reinterpret_cast<int16_t*>(header.lpData), kBufferFrames, kOutputRate);
    mixing.unlock();
    waveOutWrite(device, &header, sizeof header);
}

// Refills each buffer as soon as waveOut is done with it.
void Feed() {
    while (!stopping) {
        WaitForSingleObject(bufferDone, INFINITE);
        for (WAVEHDR& header : headers) {
            if (!stopping && (header.dwFlags & WHDR_DONE) != 0) {
                Fill(header);
            }
        }
    }
}

bool OpenWaveOut(const MixerPull& pull) {
    if (device != nullptr) {
        return true;
    }
    pulling = pull;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kOutputChannels;
    format.nSamplesPerSec = kOutputRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(kOutputChannels * 2);
    format.nAvgBytesPerSec = kOutputRate * format.nBlockAlign;
    bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (bufferDone == nullptr ||
        waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(bufferDone), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        device = nullptr;
        return false;
    }
    stopping = false;
    for (int i = 0; i < kBuffers; ++i) {
        headers[i] = WAVEHDR{};
        headers[i].lpData =
            reinterpret_cast<LPSTR>(samples.data() + i * kBufferFrames * kOutputChannels);
        headers[i].dwBufferLength = kBufferFrames * format.nBlockAlign;
        waveOutPrepareHeader(device, &headers[i], sizeof headers[i]);
        Fill(headers[i]);
    }
    feeder = std::thread(Feed);
    return true;
}

void CloseWaveOut() {
    if (device == nullptr) {
        return;
    }
    stopping = true;
    SetEvent(bufferDone);
    feeder.join();
    waveOutReset(device);
    for (WAVEHDR& header : headers) {
        waveOutUnprepareHeader(device, &header, sizeof header);
    }
    waveOutClose(device);
    CloseHandle(bufferDone);
    device = nullptr;
    bufferDone = nullptr;
}

void LockWaveOut() {
    mixing.lock();
}

void UnlockWaveOut() {
    mixing.unlock();
}

bool DescribeWaveOut(const MixerPull&, SoundDeviceFacts&) {
    return false;  // only the program plays through it; the doctor never does
}

}  // namespace

// Each buffer is a period long: there is no queue worth skipping.
const SoundOutput kSoundOutputs[] = {
    {"waveOut", OpenWaveOut, CloseWaveOut, LockWaveOut, UnlockWaveOut, nullptr, nullptr,
     DescribeWaveOut},
};
const size_t kSoundOutputCount = 1;
