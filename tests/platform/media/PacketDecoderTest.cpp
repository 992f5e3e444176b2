#include "platform/media/PacketDecoder.h"

#include "../../audio/file/AudioFileTestSupport.h"
#include "audio/file/VELKExtendedAudioFile.h"
#include "platform/media/RecordingJournal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <thread>

namespace {

constexpr double kRate = 48000;

// A recording as it was before it was finished: its journal's set-up and
// the packets the journal names, in order.
struct Unfinished {
    RecordingJournalHeader header;
    std::vector<std::string> packets;
    std::string audio; // the packets one after another
};

Unfinished record(const std::string& path,
                  const std::shared_ptr<VELKAudioStreamBasicDescription>& description,
                  uint64_t bitrate) {
    const uint32_t channels = description->channelsPerFrame();
    Unfinished unfinished;
    auto file = VELKExtendedAudioFile::forRecording(path, description, bitrate, nullptr);
    writeChannels(*file, makeSine(channels, static_cast<int64_t>(4 * kRate), kRate, 331), 4096);
    const auto journal = RecordingJournal::read(RecordingJournal::pathFor(path));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!journal) {
        ADD_FAILURE() << "no journal for " << path;
        return unfinished;
    }
    unfinished.header = journal->header;
    size_t at = journal->header.dataOffset;
    for (const uint32_t size : journal->packetSizes) {
        unfinished.packets.push_back(bytes.substr(at, size));
        at += size;
    }
    unfinished.audio = bytes.substr(journal->header.dataOffset, at - journal->header.dataOffset);
    return unfinished;
}

const uint8_t* bytesOf(const std::string& text) {
    return reinterpret_cast<const uint8_t*>(text.data());
}

// How a decoder judges the packets and bytes around them: each packet on
// its own, the packets one after another, and stretches that start a
// byte off a packet's start.
std::vector<bool> judgements(const Unfinished& recording) {
    PacketDecoder decoder(recording.header);
    std::vector<bool> judged;
    for (const std::string& packet : recording.packets) {
        judged.push_back(decoder.decodesWhole(bytesOf(packet), packet.size()));
    }
    for (size_t i = 0; i < recording.packets.size(); ++i) {
        judged.push_back(decoder.decodesWhole(bytesOf(recording.packets[i]),
                                              recording.packets[i].size(), i > 0));
    }
    size_t at = 0;
    for (const std::string& packet : recording.packets) {
        if (at + 1 + packet.size() <= recording.audio.size()) {
            judged.push_back(
                decoder.decodesWhole(bytesOf(recording.audio) + at + 1, packet.size()));
        }
        at += packet.size();
    }
    return judged;
}

// What a decoder of the set-up may be fed by a journal that is not the
// recording's: its audio at wrong sizes and offsets, noise, and stream
// headers that name other rates, channels and object types.
void feedHostileBytes(const Unfinished& recording, std::mt19937& random) {
    PacketDecoder decoder(recording.header);
    std::uniform_int_distribution<size_t> offset(0, recording.audio.size() - 2048);
    std::uniform_int_distribution<uint32_t> size(1, 1500);
    for (int i = 0; i < 300; ++i) {
        decoder.decodesWhole(bytesOf(recording.audio) + offset(random), size(random), i % 3 != 0);
    }
    std::string noise(1024, '\0');
    for (char& byte : noise) {
        byte = static_cast<char>(random());
    }
    decoder.decodesWhole(bytesOf(noise), noise.size());
    // ADTS headers: main and SSR profiles, 8 kHz and 96 kHz, one to eight
    // channels, each followed by a real packet of the recording.
    for (const uint8_t profile : {0, 2}) {
        for (const uint8_t rateIndex : {0, 11}) {
            for (uint8_t channels = 1; channels <= 7; ++channels) {
                const std::string& body = recording.packets[5];
                const size_t length = 7 + body.size();
                std::string adts = {
                    '\xff',
                    '\xf1',
                    static_cast<char>(profile << 6 | rateIndex << 2 | channels >> 2),
                    static_cast<char>((channels & 3) << 6 | (length >> 11)),
                    static_cast<char>(length >> 3 & 0xff),
                    static_cast<char>((length & 7) << 5 | 0x1f),
                    '\xfc'};
                adts += body;
                decoder.decodesWhole(bytesOf(adts), adts.size());
                decoder.decodesWhole(bytesOf(body), body.size(), true);
            }
        }
    }
}

} // namespace

// A decoder is kept from one recording to the next, but bytes that are not
// packets can reconfigure it: whatever a journal made it decode before, a
// recording is judged exactly as a freshly opened decoder judges it, for
// more set-ups than are kept at once.
TEST(PacketDecoder, WhatWasDecodedBeforeNeverChangesAJudgement) {
    ScratchFolder folder;
    std::vector<Unfinished> recordings;
    const auto lossless = [](uint32_t channels, uint32_t flags) {
        auto description = VELKAudioStreamBasicDescription::alacStreamDescription();
        description->setFormatFlags(flags);
        description->setChannelsPerFrame(channels);
        description->setSampleRate(kRate);
        return description;
    };
    for (const uint32_t channels : {1u, 2u}) {
        auto aac = VELKAudioStreamBasicDescription::aacStreamDescription();
        aac->setChannelsPerFrame(channels);
        aac->setSampleRate(kRate);
        recordings.push_back(
            record(folder.path("aac" + std::to_string(channels) + ".m4a"), aac, 64000));
        recordings.push_back(record(folder.path("alac" + std::to_string(channels) + ".m4a"),
                                    lossless(channels, kAppleLosslessFormatFlag_16BitSourceData),
                                    0));
    }
    recordings.push_back(record(folder.path("alac24.m4a"),
                                lossless(2, kAppleLosslessFormatFlag_24BitSourceData), 0));
    for (const Unfinished& recording : recordings) {
        ASSERT_GE(recording.packets.size(), 20u) << recording.header.codec;
    }

    // A thread of its own opens its decoders afresh.
    std::vector<std::vector<bool>> fresh(recordings.size());
    std::thread([&] {
        for (size_t i = 0; i < recordings.size(); ++i) {
            fresh[i] = judgements(recordings[i]);
        }
    }).join();
    for (size_t i = 0; i < recordings.size(); ++i) {
        const size_t packets = recordings[i].packets.size();
        // Every packet decodes whole, on its own and in sequence.
        EXPECT_EQ(std::count(fresh[i].begin(), fresh[i].begin() + 2 * packets, true),
                  static_cast<long>(2 * packets))
            << recordings[i].header.codec << " " << recordings[i].header.channels;
    }

    std::mt19937 random(20261209);
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < recordings.size(); ++i) {
            feedHostileBytes(recordings[(i + round) % recordings.size()], random);
            const size_t judged = (i + 2 * round) % recordings.size();
            EXPECT_EQ(judgements(recordings[judged]), fresh[judged])
                << "round " << round << ", " << recordings[judged].header.codec << " "
                << recordings[judged].header.channels << " channels, "
                << recordings[judged].header.bitsPerRawSample << " bits";
        }
    }
}
