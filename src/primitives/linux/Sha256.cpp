#include "primitives/Sha256.h"

#include "primitives/Errors.h"

#include <openssl/evp.h>

struct Sha256::State
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
    void start()
    {
        if (!context || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1)
            throw QuorvaneError(QStringLiteral("The SHA-256 hash is not available"));
    }
};

Sha256::Sha256() : m_state(std::make_unique<State>())
{
    m_state->start();
}

Sha256::~Sha256() = default;

void Sha256::add(const char *data, qint64 size)
{
    if (size > 0)
        EVP_DigestUpdate(m_state->context, data, size_t(size));
}

QByteArray Sha256::hex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_state->context, digest, &length);
    m_state->start();
    return QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex();
}
