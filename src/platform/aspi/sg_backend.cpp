#include "platform/aspi/sg_backend.h"

namespace aspi {
namespace {

// Placeholder until the sysfs scan lands: no adapters.
class SgBackend final : public Backend {
public:
    std::uint32_t supportInfo() override { return std::uint32_t{SS_COMP} << 8; }
    std::uint8_t inquiry(std::uint8_t, AdapterInquiry&) override { return SS_INVALID_HA; }
    std::uint8_t deviceType(std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t&) override { return SS_INVALID_HA; }
    ExecResult execute(const ExecRequest&) override
    {
        ExecResult r;
        r.srbStatus = SS_INVALID_HA;
        return r;
    }
};

}  // namespace

std::unique_ptr<Backend> CreateSgBackend(SgEnvironment) { return std::make_unique<SgBackend>(); }

}  // namespace aspi
