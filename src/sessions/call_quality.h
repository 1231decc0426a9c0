#pragma once
// Would a call sound right: the ITU-T G.107 E-model's rating R and its mean opinion score for a
// codec over a path with the measured loss, a playout buffer's late loss and a mouth-to-ear
// delay. Pure arithmetic: the front end says which codec and delay to judge.

#include <optional>
#include <string>
#include <string_view>

#include "sessions/loss_accountant.h"
#include "sessions/playout_buffer.h"

// A codec's equipment impairment and how well it conceals lost packets (packet loss concealment
// assumed where the codec has one).
struct CodecImpairment {
    const char* family;       // "g711", as the voice loads are named before the interval
    const char* displayName;  // "G.711"
    double ie;                // equipment impairment factor without loss
    double bpl;               // packet-loss robustness factor
};

// The values for a codec family; nullopt, with the reason in `why`, for a codec the planning
// values leave out or a name nobody knows.
std::optional<CodecImpairment> FindCodecImpairment(std::string_view family, std::string* why = nullptr);

// R for the E-model's default connection (no echo or noise beyond the defaults) with codec
// impairment `ie`/`bpl`, `lossPercent` of the packets lost with burst ratio `burstR`, and
// `mouthToEarMs` of one-way delay (which also sets the echo paths: talker echo after it,
// listener echo after twice it).
double EModelRating(double ie, double bpl, double lossPercent, double burstR, double mouthToEarMs);

// The mean opinion score (1 to 4.5) that R predicts.
double MosFromRating(double r);

// How much burstier than random the loss is: the mean length of the loss runs against the
// 1 / (1 - loss share) that random loss gives, never below 1 (random).
double BurstRatio(double lossShare, double meanLossRunLength);

enum class DelaySource { Missing, OneWayDelayOption, HalfRoundTrip };

struct CallQualityInputs {
    CodecImpairment codec;
    double packetIntervalMs = 20;  // a packet's worth of speech waits this long to be sent
    LossFigures loss;              // over every packet
    JitterBufferFigures jitterBuffer;
    std::optional<double> oneWayDelayMs;  // the path's, given by the user or half the round trip
    DelaySource oneWayDelaySource = DelaySource::OneWayDelayOption;  // which of them
};

struct CallQuality {
    std::string codec;       // as the front end names it ("g711-20"); JudgeCall leaves it to the front end
    std::string codecLabel;  // "G.711/20 ms", likewise
    double rFactor = 0;
    double mos = 0;
    std::optional<double> delayMs;  // mouth-to-ear; none: the delay term is left out
    DelaySource delaySource = DelaySource::Missing;
    double lossPercent = 0;  // path loss and late loss at the buffer together
    double burstR = 1;
    double jitterBufferMs = 0;
    double latePercent = 0;  // of the received packets, at that buffer
    bool bufferSufficient = false;
};

// The verdict for a call over the measured path, playing out with the recommended buffer. The
// late packets count as lost, at random; the delay is the path's plus the buffer and one packet
// interval.
CallQuality JudgeCall(const CallQualityInputs& inputs);
