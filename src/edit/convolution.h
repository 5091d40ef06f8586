#pragma once
// FFT block convolution of one region with an impulse response: the engine of "リバーブ..." (40111,
// a synthetic response) and of "任意の音で畳み込み..." (40112, a mono WAV file as the response).

#include "edit/edit_commands.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sonavik {

class PercentProgress;
class Ui;
struct EditRegion;
struct SoundDocument;

enum class ResponseSource { Reverb, File };

inline constexpr std::int64_t kMinConvolutionBlock = 4096;
inline constexpr std::int64_t kMaxConvolutionBlock = 524288;

// The block length N for a response of that many frames: the next power of two from 4096 to 524288,
// so a longer response is cut to its first 524288 frames. The FFT length is 2N.
std::int64_t convolutionBlockLength(std::int64_t responseFrames);

// One region of one channel (region.channel): blocks of N frames, scaled by 0.018 / N, multiplied with
// the response's spectrum (kept in single precision), transformed back with the tail of the block
// before added; every frame becomes (1 - a r) x + a r wet at its alpha a. r is reverbRatio / 100 for
// the reverb (limited to 0…100 %) and 1 for a file. The reverberation past the region's end is
// dropped: the sound keeps its length. Each call builds its response anew (new noise, or the file
// read again); a file that cannot be used or memory that cannot be had leaves the region unchanged
// after its messages.
void convolveRegion(EditContext& context, const EditRegion& region, ResponseSource source);

// What every run of blocks of one region shares: the block length and the response's spectrum.
struct ConvolutionPlan {
    std::int64_t n = 0;                 // block length N; the FFT length is 2N
    std::unique_ptr<float[]> response;  // the response's spectrum, 2N values in single precision
    double ratio = 1.0;                 // wet share r
};

// A response file as read once: its data chunk's frame count and its first frames (at most
// kMaxConvolutionBlock, fewer where the data ends early) scaled as readResponse scales them.
struct ResponseSamples {
    std::int64_t frames = 0;
    std::vector<double> values;
};

// Opens, checks and reads the response file, asking the file's own questions (a repairable format)
// on ui: null after the messages of a file that cannot be used ("畳み込みに使うファイルが不正です"
// last), of a stereo file ("応答関数の読み込みに失敗しました" last) or of memory that cannot be had.
std::shared_ptr<const ResponseSamples> loadResponse(Ui& ui, const std::string& responsePath, const std::string& openDir);

// The steps before the first block, with their progress texts: the response is synthesised (new
// noise) or taken from the file, and transformed. A file source uses response when given (read
// before on the user-interface thread) and reads the file itself otherwise. False after the edit's
// own messages when the region is to stay unchanged.
bool prepareConvolution(EditContext& context, ResponseSource source, ConvolutionPlan& plan,
                        const ResponseSamples* response = nullptr);

// Blocks of the region that write frames: the region's length divided by N, rounded up.
std::int64_t convolutionBlockCount(const EditRegion& region, const ConvolutionPlan& plan);

// Blocks [firstBlock, endBlock) of the region, the dry sound read from source and the result written
// into context.document (the same document for an edit in place). A run that starts after block 0
// first works out the tail of the block before it from source, so the frames come out the same however
// the region is cut into runs. False, with nothing written, when the work arrays cannot be had.
// progress (may be null) gets the texts of every block.
bool convolveBlocks(EditContext& context, const SoundDocument& source, const EditRegion& region,
                    const ConvolutionPlan& plan, std::int64_t firstBlock, std::int64_t endBlock,
                    PercentProgress* progress);

// The block texts of the engine, shared by the reverb and the convolution.
inline constexpr const char* kConvolutionProgressName = "リバーブ";

// 40112 for the command table: convolveRegion with the file named by responsePath, channel by channel.
void convolveFileRegion(EditContext& context, const EditRegion& region, int channelCount);

// The frame count of the file's data chunk, or -1 after the file's own message when it cannot be
// used. A bare name is looked for in openDir and ".wav" is added where missing.
std::int64_t readResponseLength(Ui& ui, const std::string& responsePath, const std::string& openDir);

// Clears w[0…length), then fills w[j] for j < min(length / 2, frames) with the file's samples scaled to
// [-1, 1): (byte - 128) / 128 for 8 bits, value / 32768 for 16 bits. Samples missing because the data
// ends before its header says stay 0. False after its message for an unusable or stereo file.
bool readResponse(Ui& ui, double* w, std::size_t length, const std::string& responsePath, const std::string& openDir);

} // namespace sonavik
