#include "platform/io/sha256.h"

#include <new>
#include <openssl/evp.h>
#include <utility>

namespace {

// EVP fails only when it cannot allocate its context or find its own digest: both are
// a broken process rather than an input to report.
EVP_MD_CTX* NewContext()
{
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx || EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        throw std::bad_alloc();
    }
    return ctx;
}

}  // namespace

Sha256::Sha256() : ctx_(NewContext()) {}

Sha256::~Sha256() { EVP_MD_CTX_free(ctx_); }

Sha256::Sha256(Sha256&& other) noexcept : ctx_(std::exchange(other.ctx_, nullptr)) {}

Sha256& Sha256::operator=(Sha256&& other) noexcept
{
    if (this != &other) {
        EVP_MD_CTX_free(ctx_);
        ctx_ = std::exchange(other.ctx_, nullptr);
    }
    return *this;
}

void Sha256::add(const void* data, std::size_t bytes)
{
    if (!ctx_)
        ctx_ = NewContext();  // a moved-from hash used again starts empty
    if (bytes > 0 && EVP_DigestUpdate(ctx_, data, bytes) != 1)
        throw std::bad_alloc();
}

void Sha256::reset()
{
    if (!ctx_ || EVP_DigestInit_ex(ctx_, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx_);
        ctx_ = NewContext();
    }
}

Sha256::Digest Sha256::digest() const
{
    // Finishing consumes a context: finish a copy, so that hashing can go on.
    EVP_MD_CTX* copy = EVP_MD_CTX_new();
    const bool copied =
        copy && (ctx_ ? EVP_MD_CTX_copy_ex(copy, ctx_) == 1 : EVP_DigestInit_ex(copy, EVP_sha256(), nullptr) == 1);
    Digest out{};
    unsigned int length = 0;
    const bool finished = copied && EVP_DigestFinal_ex(copy, out.data(), &length) == 1 && length == out.size();
    EVP_MD_CTX_free(copy);
    if (!finished)
        throw std::bad_alloc();
    return out;
}

std::string Sha256::hex() const { return Hex(digest()); }

std::string Sha256::Hex(const Digest& digest)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * digest.size());
    for (const std::uint8_t b : digest) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::string Sha256::HexOf(const void* data, std::size_t bytes)
{
    Sha256 h;
    h.add(data, bytes);
    return h.hex();
}
