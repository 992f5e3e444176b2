#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Reads back what a movie holds: its container, its tracks' formats and
// lengths, the luma of every picture and the decoded sound. Used to check
// movies; it reads the whole file.
struct MovieInfo {
    std::string container;  // FFmpeg's demuxer names, e.g. "mov,mp4,m4a,3gp,3g2,mj2"
    std::string videoCodec; // "h264"
    std::string audioCodec; // "aac"
    std::string audioProfile; // "LC", "HE-AAC", ...
    int width = 0;
    int height = 0;
    double framesPerSecond = 0;
    int64_t videoFrames = 0;   // decoded
    int sampleRate = 0;
    int channels = 0;
    int64_t audioFrames = 0;   // decoded sample frames, priming left out
    double videoDuration = 0;  // seconds, from the decoded frames
    double audioDuration = 0;  // seconds, from the decoded samples
    double audioPeak = 0;      // largest sample, 0…1
    std::vector<int64_t> framePresentationTimes; // in 1/framesPerSecond units
};

namespace MovieReader {

// One decoded picture: `height` rows of `width` luma bytes.
using FrameVisitor = std::function<void(int64_t index, const std::vector<uint8_t>& luma, int width,
                                        int height)>;

// False when the file cannot be read (`error` says why).
bool read(const std::string& path, MovieInfo* info, std::string* error,
          const FrameVisitor& visitFrame = {});

} // namespace MovieReader
