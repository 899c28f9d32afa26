// SHA-256 through OpenSSL's EVP interface, which uses the processor's SHA instructions where
// it has them: the archive hashes every frame it keeps, so the digest must not cost more than
// the read.
//
//   Sha256 h;
//   h.add(bytes, n);
//   std::string hex = h.hex();   // of what was added so far; more may be added after
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

struct evp_md_ctx_st;

class Sha256 {
public:
    static constexpr std::size_t kDigestBytes = 32;
    using Digest = std::array<std::uint8_t, kDigestBytes>;

    Sha256();
    ~Sha256();
    Sha256(Sha256&& other) noexcept;
    Sha256& operator=(Sha256&& other) noexcept;
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const void* data, std::size_t bytes);
    // Starts again as if nothing had been added.
    void reset();
    // The digest of everything added so far; the hash goes on from there.
    Digest digest() const;
    // The same in lower-case hex.
    std::string hex() const;

    static std::string Hex(const Digest& digest);
    static std::string HexOf(const void* data, std::size_t bytes);

private:
    evp_md_ctx_st* ctx_ = nullptr;
};
