// Which drive a tape device is: vendor, product and firmware revision from its INQUIRY data,
// and what is known of its family's audio firmware, for --scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

struct DriveIdentity {
    // INQUIRY bytes 8-15, bytes outside 0x20-0x7E as spaces, spaces at both ends removed;
    // empty when the drive leaves the field blank.
    std::string vendor;
    std::string product;   // bytes 16-31
    std::string revision;  // bytes 32-35
};

// The identity in standard INQUIRY data; nullopt when fewer than 36 bytes came.
std::optional<DriveIdentity> ParseInquiry(const std::uint8_t* data, std::size_t len);

// Sends INQUIRY to LUN 0 of the device; nullopt when it fails or answers short.
std::optional<DriveIdentity> InquireDrive(std::uint8_t adapter, std::uint8_t target);

// "ARCHIVE Python 25601-XXX, firmware 2.63".
std::string DriveIdentityText(const DriveIdentity& id);

// A sentence on the drive's audio firmware: a family and revision known to play audio tapes,
// a family that had audio firmware running other firmware, or a maker never known to have
// made audio firmware. Empty when nothing is known either way.
std::string AudioFirmwareHint(const DriveIdentity& id);
