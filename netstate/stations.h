#pragma once
// The remote-station table of the selected profile, the rate estimates and
// the link-quality figure drawn from them.
#include "frames/frame.h"

#include <cstdint>
#include <string>
#include <vector>

void recordStationReply(const mme::FrameView& reply);
void ageStations();
void updateRates(const mme::FrameView& reply);

double rateFromLinkValue(uint16_t linkValue);

struct Rgb {
    int red, green, blue;
    bool operator==(const Rgb&) const = default;
};

struct LinkQuality {
    double average;
    int barPosition;  // 0 to 100 fills the bar; more leaves it full
    Rgb barColour;
    const char* ratingText;
};

// Ratings by average rate in Mbit/s: Poor below fairFromMbps, Fair up to and
// including excellentAboveMbps, Excellent above it.
constexpr double fairFromMbps = 0.905;
constexpr double excellentAboveMbps = 2.5;
LinkQuality linkQualityFor(double average);
// Average over the leading run of in-use, rated entries of the selected table.
double averageRate();

struct StationRow {
    std::string mac;        // "%.2x:%.2x:%.2x:%.2x:%.2x:%.2x"
    std::string rate;       // "%.2f", or "*" without an estimate
    double rateMbps = 0.0;  // 0.0: no estimate
};
// One row per in-use entry, in table order.
std::vector<StationRow> stationRows();
