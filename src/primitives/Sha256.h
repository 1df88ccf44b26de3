#pragma once

#include <QByteArray>
#include <memory>

// SHA-256 of bytes handed in pieces, by the system's library (OpenSSL's libcrypto on Linux,
// CNG on Windows: both use the processor's SHA instructions where it has them).
class Sha256
{
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;
    void add(const char *data, qint64 size);
    // The digest of all the bytes added, as 64 lowercase hexadecimal digits; the hash then
    // starts again from nothing.
    QByteArray hex();

  private:
    struct State; // the library's own
    std::unique_ptr<State> m_state;
};
