#pragma once
// system.ini: options of the audio engine, read once at start-up and never written.
//
//   [Options]    Lg, BufferLength, FXTempo, UseLineIn, NoLineFx
//   [Equalizer]  BandsNum, Freq0…Freq<BandsNum-1>, Bandwidth
//
// Of these only the volume curve changes what the program does (playback volume); the
// others feed engine stages that stay off and are read only to be kept. Booleans are
// integers (non-zero is true); a value that is not a number gives the default.

#include <QString>

#include <array>

namespace settings {

constexpr int kMaxEqualizerBands = 12;

struct SystemOptions {
    bool volumeCurveLogarithmic = false;  // Lg
    int bufferLengthMs = 500;             // BufferLength
    bool tempoEffect = false;             // FXTempo: always false once read
    bool useLineIn = false;               // UseLineIn
    bool noLineEffects = false;           // NoLineFx
    int bandCount = kMaxEqualizerBands;   // BandsNum, 0…12
    std::array<int, kMaxEqualizerBands> bandFrequencies{};  // Freq<n>, in Hz
    float bandwidth = 2.5f;               // Bandwidth, shared by all bands
};

// A missing file or key gives the defaults. "Bandwidth" is a decimal fraction with "."
// whatever the user's locale. FXTempo is forced off. BandsNum is brought into 0…12 (a
// hand-edited file must not address slots that do not exist) and only Freq0 to
// Freq<BandsNum-1> are read.
SystemOptions readSystemOptions(const QString &path);

}  // namespace settings
