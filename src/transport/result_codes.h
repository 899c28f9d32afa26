// The small integer results that cross layers: what TestUnitReady (tape/) reports to start-up's
// probe (here) and to the windows above, and what HostAdapterInquiry reports to start-up and
// to the console's device listing.
#pragma once

#include <cstdint>

// TestUnitReady result codes.
inline constexpr std::int32_t kTurReady = 6;
inline constexpr std::int32_t kTurNoTape = 0;
inline constexpr std::int32_t kTurBecomingReady = 5;
inline constexpr std::int32_t kTurMediumChanged = 1;
inline constexpr std::int32_t kTurReset = 4;
inline constexpr std::int32_t kTurOther = -99;  // a message was shown

// HostAdapterInquiry results: the ASPI statuses SS_COMP and SS_INVALID_HA passed through, or
// -99 for any other outcome.
inline constexpr std::int32_t kInquiryOk = 1;
inline constexpr std::int32_t kInquiryInvalidAdapter = 129;
inline constexpr std::int32_t kInquiryUndefined = -99;
