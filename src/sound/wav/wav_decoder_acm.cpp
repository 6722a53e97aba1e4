// WAV decoding on Windows: PCM and float converted by the portable parser,
// MS ADPCM, IMA ADPCM, A-law and mu-law by the system's Audio Compression
// Manager, whose codecs Windows (and wine) ship.
#include "sound/wav/wav_decoder.h"

// clang-format off
#include <windows.h>
#include <mmreg.h>
#include <msacm.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <vector>

#include "sound/wav/wav_parse.h"

namespace {

// Source bytes handed to the codec at a time: whole blocks of about this.
constexpr size_t kPieceBytes = 64 * 1024;
// What a codec may say a piece decodes to before it is taken for nonsense:
// four bytes a source byte (4-bit ADPCM to 16-bit) and a block's rounding.
constexpr size_t kMostBytesPerSourceByte = 4;
constexpr size_t kSizeSlackBytes = 4096;

// The file's own header with the codec's bytes after it (an ADPCM
// coefficient table), as WAVEFORMATEX lays them out.
std::vector<uint8_t> SourceFormat(const WavLayout& layout) {
    WAVEFORMATEX head{};
    head.wFormatTag = layout.encoding;
    head.nChannels = layout.channels;
    head.nSamplesPerSec = layout.rate;
    head.nAvgBytesPerSec = layout.byteRate;
    head.nBlockAlign = layout.blockAlign;
    head.wBitsPerSample = layout.bits;
    head.cbSize = static_cast<WORD>(layout.extraBytes);
    std::vector<uint8_t> format(sizeof head + layout.extraBytes);
    std::memcpy(format.data(), &head, sizeof head);
    if (layout.extraBytes != 0) {
        std::memcpy(format.data() + sizeof head, layout.extra, layout.extraBytes);
    }
    return format;
}

// Converts the blocks of `source` in `stream`; false when the codec fails.
bool ConvertPiece(HACMSTREAM stream, std::vector<uint8_t>& source, bool first, size_t limit,
                  std::vector<uint8_t>& pcm, size_t& used) {
    DWORD outBytes = 0;
    if (acmStreamSize(stream, static_cast<DWORD>(source.size()), &outBytes,
                      ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR ||
        outBytes > source.size() * kMostBytesPerSourceByte + kSizeSlackBytes) {
        return false;
    }
    std::vector<uint8_t> out(std::max<DWORD>(outBytes, 1));
    ACMSTREAMHEADER header{};
    header.cbStruct = sizeof header;
    header.pbSrc = source.data();
    header.cbSrcLength = static_cast<DWORD>(source.size());
    header.pbDst = out.data();
    header.cbDstLength = static_cast<DWORD>(out.size());
    if (acmStreamPrepareHeader(stream, &header, 0) != MMSYSERR_NOERROR) {
        return false;
    }
    const DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN | (first ? ACM_STREAMCONVERTF_START : 0);
    const bool converted = acmStreamConvert(stream, &header, flags) == MMSYSERR_NOERROR;
    used = std::min<size_t>(header.cbSrcLengthUsed, source.size());
    const size_t made = std::min<size_t>(header.cbDstLengthUsed, out.size());
    pcm.insert(pcm.end(), out.begin(), out.begin() + std::min(made, limit - pcm.size()));
    acmStreamUnprepareHeader(stream, &header, 0);
    return converted;
}

bool DecodeWithAcm(const WavLayout& file, size_t limit, std::vector<uint8_t>& pcm) {
    // G.711 expands each byte on its own, whatever the rate and channels,
    // while a system codec may take only the rates it lists (wine's: 8,
    // 11.025, 22.05 and 44.1 kHz, at most two channels): it is shown the
    // samples as mono 8 kHz, and what it makes is read back as the file's
    // frames.
    WavLayout layout = file;
    if (file.encoding == kWavALaw || file.encoding == kWavMuLaw) {
        layout.channels = 1;
        layout.rate = 8000;
        layout.byteRate = 8000;
        layout.blockAlign = 1;
        layout.extraBytes = 0;
    }
    const uint64_t pcmByteRate = uint64_t{layout.rate} * layout.channels * 2;
    if (layout.blockAlign == 0 || pcmByteRate > UINT32_MAX) {
        return false;
    }
    std::vector<uint8_t> sourceFormat = SourceFormat(layout);
    WAVEFORMATEX target{};
    target.wFormatTag = WAVE_FORMAT_PCM;
    target.nChannels = layout.channels;
    target.nSamplesPerSec = layout.rate;
    target.nAvgBytesPerSec = static_cast<DWORD>(pcmByteRate);
    target.nBlockAlign = static_cast<WORD>(layout.channels * 2);
    target.wBitsPerSample = 16;
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, reinterpret_cast<WAVEFORMATEX*>(sourceFormat.data()),
                      &target, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR) {
        return false;
    }
    // Whole blocks only: a block cut off at the end is left out.
    const size_t blocks = std::max<size_t>(kPieceBytes / layout.blockAlign, 1);
    const size_t pieceBytes = blocks * layout.blockAlign;
    const size_t wholeBytes = layout.dataBytes / layout.blockAlign * layout.blockAlign;
    bool ok = true;
    size_t done = 0;
    std::vector<uint8_t> source;
    while (ok && done < wholeBytes && pcm.size() < limit) {
        // A copy: the codec is handed a buffer it may write to.
        const size_t take = std::min(pieceBytes, wholeBytes - done);
        source.assign(layout.data + done, layout.data + done + take);
        size_t used = 0;
        ok = ConvertPiece(stream, source, done == 0, limit, pcm, used);
        if (used == 0) {
            break;
        }
        done += used;
    }
    acmStreamClose(stream, 0);
    return ok;
}

}  // namespace

bool DecodeWavImage(const uint8_t* image, size_t length, DecodedSound& made) {
    return DecodeWavWith(image, length, made, DecodeWithAcm);
}

void ReleaseDecodedSound(DecodedSound& sound) {
    ReleaseWavFrames(sound);
}

// The Audio Compression Manager keeps nothing for a thread.
void EndDecodingThread() {}
