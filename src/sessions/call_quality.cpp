#include "sessions/call_quality.h"

#include <algorithm>
#include <cmath>

namespace {

// ITU-T G.113 Appendix I gives planning values of Ie and Bpl for a few narrowband codecs:
// G.711 with the packet loss concealment of G.711 Appendix I: Ie 0, Bpl 25.1; G.729A with
// voice activity detection: Ie 11, Bpl 19.0 (its only G.729 row with a Bpl). Wideband codecs
// (G.722) and Opus have no narrowband Ie or Bpl there, and a verdict on an R scale they do not
// share would mislead.
constexpr CodecImpairment kCodecs[] = {
    {"g711", "G.711", 0.0, 25.1},
    {"g729", "G.729", 11.0, 19.0},
};
struct UnratedCodec {
    const char* family;
    const char* reason;
};
constexpr UnratedCodec kUnrated[] = {
    {"g722", "G.722 is a wideband codec: there are no narrowband Ie/Bpl planning values for it"},
    {"opus", "there are no Ie/Bpl planning values for Opus"},
};

// The E-model's default values (ITU-T G.107, its table of defaults): send and receive loudness
// ratings 8 and 2 dB, sidetone masking rating 15 dB, listener sidetone rating 18 dB, D-values
// 3, talker echo loudness rating 65 dB, weighted echo path loss 110 dB, one quantizing
// distortion unit, circuit noise -70 dBm0p, noise floor -64 dBmp, room noise 35 dB(A) at both
// ends, advantage factor 0.
constexpr double kSlr = 8;
constexpr double kRlr = 2;
constexpr double kStmr = 15;
constexpr double kLstr = 18;
constexpr double kDs = 3;
constexpr double kTelr = 65;
constexpr double kWepl = 110;
constexpr double kQdu = 1;
constexpr double kNc = -70;
constexpr double kNfor = -64;
constexpr double kPs = 35;
constexpr double kPr = 35;
constexpr double kAdvantage = 0;

double PowerSum(double a, double b, double c, double d) {
    return 10 * std::log10(std::pow(10, a / 10) + std::pow(10, b / 10) + std::pow(10, c / 10) + std::pow(10, d / 10));
}

// The total noise at the receive side, dBm0p.
double NoiseNo() {
    const double olr = kSlr + kRlr;
    const double nos = kPs - kSlr - kDs - 100 + 0.004 * std::pow(kPs - olr - kDs - 14, 2);
    const double pre = kPr + 10 * std::log10(1 + std::pow(10, (10 - kLstr) / 10));
    const double nor = kRlr - 121 + pre + 0.008 * std::pow(pre - 35, 2);
    const double nfo = kNfor + kRlr;
    return PowerSum(kNc, nos, nor, nfo);
}

double BasicSignalToNoise(double no) {
    return 15 - 1.5 * (kSlr + no);
}

// Impairments that come with the voice signal: too loud a connection, sidetone, quantizing.
double SimultaneousImpairment(double ro, double no, double talkerEchoMs) {
    const double olr = kSlr + kRlr;
    const double xolr = olr + 0.2 * (64 + no - kRlr);
    const double iolr = 20 * (std::pow(1 + std::pow(xolr / 8, 8), 1.0 / 8) - xolr / 8);
    const double stmro =
        -10 * std::log10(std::pow(10, -kStmr / 10) + std::exp(-talkerEchoMs / 4) * std::pow(10, -kTelr / 10));
    const double ist = 12 * std::pow(1 + std::pow((stmro - 13) / 6, 8), 1.0 / 8) -
                       28 * std::pow(1 + std::pow((stmro + 1) / 19.4, 35), 1.0 / 35) -
                       13 * std::pow(1 + std::pow((stmro - 3) / 33, 13), 1.0 / 13) + 29;
    const double q = 37 - 15 * std::log10(kQdu);
    const double g = 1.07 + 0.258 * q + 0.0602 * q * q;
    const double z = 46.0 / 30 - g / 40;
    const double y = (ro - 100) / 15 + 46 / 8.4 - g / 9;
    const double iq = 15 * std::log10(1 + std::pow(10, y) + std::pow(10, z));
    return iolr + ist + iq;
}

// Impairments that come with the delay: talker echo, listener echo, and the delay itself.
double DelayImpairment(double ro, double no, double mouthToEarMs) {
    const double t = mouthToEarMs;
    const double tr = 2 * mouthToEarMs;
    const double terv = kTelr - 40 * std::log10((1 + t / 10) / (1 + t / 150)) + 6 * std::exp(-0.3 * t * t);
    const double roe = -1.5 * (no - kRlr);
    const double re = 80 + 2.5 * (terv - 14);
    const double idte = ((roe - re) / 2 + std::sqrt((roe - re) * (roe - re) / 4 + 100) - 1) * (1 - std::exp(-t));
    const double rle = 10.5 * (kWepl + 7) * std::pow(tr + 1, -0.25);
    const double idle = (ro - rle) / 2 + std::sqrt((ro - rle) * (ro - rle) / 4 + 169);
    double idd = 0;
    if (mouthToEarMs > 100) {
        const double x = std::log10(mouthToEarMs / 100) / std::log10(2.0);
        idd = 25 * (std::pow(1 + std::pow(x, 6), 1.0 / 6) - 3 * std::pow(1 + std::pow(x / 3, 6), 1.0 / 6) + 2);
    }
    return idte + idle + idd;
}

}  // namespace

std::optional<CodecImpairment> FindCodecImpairment(std::string_view family, std::string* why) {
    for (const CodecImpairment& codec : kCodecs) {
        if (family == codec.family) {
            return codec;
        }
    }
    if (why != nullptr) {
        *why = "there are no Ie/Bpl planning values for " + std::string(family);
        for (const UnratedCodec& unrated : kUnrated) {
            if (family == unrated.family) {
                *why = unrated.reason;
            }
        }
    }
    return std::nullopt;
}

double EModelRating(double ie, double bpl, double lossPercent, double burstR, double mouthToEarMs) {
    const double no = NoiseNo();
    const double ro = BasicSignalToNoise(no);
    const double is = SimultaneousImpairment(ro, no, mouthToEarMs);
    const double id = DelayImpairment(ro, no, mouthToEarMs);
    const double ppl = std::clamp(lossPercent, 0.0, 100.0);
    const double ieEff = ie + (95 - ie) * ppl / (ppl / burstR + bpl);
    return ro - is - id - ieEff + kAdvantage;
}

double MosFromRating(double r) {
    if (!(r > 0)) {
        return 1.0;
    }
    if (r >= 100) {
        return 4.5;
    }
    return 1 + 0.035 * r + r * (r - 60) * (100 - r) * 7e-6;
}

double BurstRatio(double lossShare, double meanLossRunLength) {
    const double ratio = meanLossRunLength * (1 - lossShare);
    return std::isfinite(ratio) ? std::max(1.0, ratio) : 1.0;
}

CallQuality JudgeCall(const CallQualityInputs& inputs) {
    CallQuality quality;
    quality.jitterBufferMs = inputs.jitterBuffer.recommendedMs;
    quality.latePercent = inputs.jitterBuffer.recommendedLatePercent;
    quality.bufferSufficient = inputs.jitterBuffer.sufficient;

    // Shares of the packets sent: those lost on the path, and of the rest those too late.
    const LossFigures& loss = inputs.loss;
    const double expected = static_cast<double>(std::max<int64_t>(loss.expected, 1));
    const double pathLoss = std::clamp(static_cast<double>(loss.lost) / expected, 0.0, 1.0);
    const double late = (1 - pathLoss) * std::clamp(quality.latePercent / 100, 0.0, 1.0);
    const double lossShare = pathLoss + late;
    // A late packet is taken as a loss run of its own.
    const double runs = static_cast<double>(loss.lossRuns) / expected + late;
    quality.lossPercent = 100 * lossShare;
    quality.burstR = runs > 0 ? BurstRatio(lossShare, lossShare / runs) : 1.0;

    double mouthToEarMs = 0;  // without a delay the delay terms are left out
    if (inputs.oneWayDelayMs) {
        mouthToEarMs = *inputs.oneWayDelayMs + quality.jitterBufferMs + inputs.packetIntervalMs;
        quality.delayMs = mouthToEarMs;
        quality.delaySource = inputs.oneWayDelaySource;
    }
    quality.rFactor =
        EModelRating(inputs.codec.ie, inputs.codec.bpl, quality.lossPercent, quality.burstR, mouthToEarMs);
    quality.mos = MosFromRating(quality.rFactor);
    return quality;
}
