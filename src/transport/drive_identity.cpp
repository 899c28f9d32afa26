#include "transport/drive_identity.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/aspi/scsi_codes.h"
#include "transport/send_and_wait.h"
#include "transport/srb.h"

namespace {

constexpr std::size_t kStandardInquiryLen = 36;

// A field of INQUIRY data as text: bytes outside printable ASCII (NUL padding, control bytes
// that must never reach a terminal) become spaces, and spaces at either end go.
std::string Field(const std::uint8_t* data, std::size_t from, std::size_t to)
{
    std::string text(reinterpret_cast<const char*>(data + from), to - from);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = ' ';
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// Drive and firmware combinations reported to read audio tapes (a DAT FAQ's list: the Archive
// 4320NT and 4330, the Conner/Seagate CTD-8000 or 4326NT, the Conner 4530, the Sony SDT-9000
// sold by SGI). An empty revision list: the family without a known revision.
struct AudioFirmware {
    const char* vendor;
    const char* productPrefix;
    std::array<const char*, 3> revisions;
    const char* drive;
};

constexpr AudioFirmware kAudioFirmware[] = {
    {"ARCHIVE", "PYTHON 25601", {"2.63", "2.75", nullptr}, "Archive 4320NT or 4330"},
    {"ARCHIVE", "PYTHON 01931", {"5AC", "5.56", "5.63"}, "Conner/Seagate CTD-8000 or 4326NT"},
    {"ARCHIVE", "PYTHON 25501", {nullptr, nullptr, nullptr}, "Conner 4530"},
    {"SONY", "SDT-9000", {"1.11", "1.13", nullptr}, "Sony SDT-9000"},
};

// The makers whose DAT drives ever had audio firmware, as far as is known.
constexpr const char* kAudioMakers[] = {"ARCHIVE", "CONNER", "SEAGATE", "SONY"};

}  // namespace

std::optional<DriveIdentity> ParseInquiry(const std::uint8_t* data, std::size_t len)
{
    if (!data || len < kStandardInquiryLen)
        return std::nullopt;
    return DriveIdentity{Field(data, 8, 16), Field(data, 16, 32), Field(data, 32, 36)};
}

std::optional<DriveIdentity> InquireDrive(std::uint8_t adapter, std::uint8_t target)
{
    const std::array<std::uint8_t, 6> cdb{scsi::op::Inquiry, 0, 0, 0, kStandardInquiryLen, 0};
    std::array<std::uint8_t, kStandardInquiryLen> data{};
    SRB_ExecSCSICmd srb;
    FillExecRecord(srb, adapter, target, SRB_DIR_IN, cdb, data.data(), data.size());
    SendAndWait(srb, data.data());
    if (LoadStatus(srb) != SS_COMP)
        return std::nullopt;
    return ParseInquiry(data.data(), data.size());
}

std::string DriveIdentityText(const DriveIdentity& id)
{
    std::string text = id.vendor;
    if (!id.product.empty())
        text += (text.empty() ? "" : " ") + id.product;
    if (!id.revision.empty())
        text += ", firmware " + id.revision;
    return text;
}

std::string AudioFirmwareHint(const DriveIdentity& id)
{
    const std::string vendor = Upper(id.vendor);
    const std::string product = Upper(id.product);
    const std::string revision = Upper(id.revision);
    // The project's own virtual drive, served to the kernel for trying the real mode.
    if (vendor == "VANTREL" && StartsWith(product, "VIRTUAL DAT"))
        return "Vantrel's virtual audio DAT drive: it reads audio tapes.";
    bool family = false;
    for (const AudioFirmware& f : kAudioFirmware) {
        if (vendor != f.vendor || !StartsWith(product, f.productPrefix))
            continue;
        family = true;
        const bool anyRevision = f.revisions[0] == nullptr;
        const bool known = anyRevision || std::any_of(f.revisions.begin(), f.revisions.end(), [&](const char* r) {
                               return r && revision == r;
                           });
        if (known)
            return std::string("Audio firmware: this is the ") + f.drive + " audio firmware reported to read audio tapes.";
    }
    if (family || (vendor == "ARCHIVE" && StartsWith(product, "PYTHON")))
        return "A drive family that had audio firmware, but this firmware is not one known to read audio tapes "
               "(ARCHIVE Python 25601 2.63 or 2.75, 01931 5AC, 5.56 or 5.63, 25501; SONY SDT-9000 1.11 or 1.13).";
    if (std::none_of(std::begin(kAudioMakers), std::end(kAudioMakers), [&](const char* m) { return vendor == m; }))
        return "No audio firmware is known for this maker's drives: most likely a data-only drive.";
    return {};
}
