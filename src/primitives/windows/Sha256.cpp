#include "primitives/Sha256.h"

#include "primitives/Errors.h"

#include <windows.h>

#include <bcrypt.h>

struct Sha256::State
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State()
    {
        if (hash)
            BCryptDestroyHash(hash);
    }
    // One provider for the program, opened at the first hash.
    static BCRYPT_ALG_HANDLE algorithm()
    {
        static const BCRYPT_ALG_HANDLE handle = [] {
            BCRYPT_ALG_HANDLE h = nullptr;
            return BCryptOpenAlgorithmProvider(&h, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0
                       ? h
                       : nullptr;
        }();
        return handle;
    }
    void start()
    {
        if (hash)
            BCryptDestroyHash(hash);
        hash = nullptr;
        if (!algorithm() || BCryptCreateHash(algorithm(), &hash, nullptr, 0, nullptr, 0, 0) < 0)
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
    // The system takes at most 4 GiB at a call.
    for (qint64 done = 0; done < size;) {
        const ULONG n = ULONG(qMin<qint64>(size - done, 1 << 30));
        BCryptHashData(m_state->hash, reinterpret_cast<PUCHAR>(const_cast<char *>(data + done)), n,
                       0);
        done += n;
    }
}

QByteArray Sha256::hex()
{
    UCHAR digest[32];
    BCryptFinishHash(m_state->hash, digest, sizeof digest, 0);
    m_state->start();
    return QByteArray(reinterpret_cast<const char *>(digest), int(sizeof digest)).toHex();
}
