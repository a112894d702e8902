#include "unzipsecrets.h"

#include <openssl/crypto.h>

#include <atomic>
#include <cstring>

namespace pnvzip {

void wipeBytes(void *data, size_t size)
{
    if (data && size)
        OPENSSL_cleanse(data, size);
}

void wipeString(std::string &bytes)
{
    bytes.resize(bytes.capacity()); // the whole allocation becomes the string's own bytes
    wipeBytes(bytes.data(), bytes.size());
    bytes.clear();
}

Secret &Secret::operator=(const Secret &other)
{
    if (this != &other)
        assign(other.m_bytes.data(), other.m_bytes.size());
    return *this;
}

void Secret::wipe()
{
    wipeVector(m_bytes);
    m_bytes.clear();
}

void Secret::assign(const char *bytes, size_t size)
{
    wipe();
    std::vector<char>().swap(m_bytes); // the old allocation, wiped, goes back now
    if (size == 0)
        return;
    m_bytes.resize(size); // one allocation at the final size: nothing is moved afterwards
    std::memcpy(m_bytes.data(), bytes, size);
}

void Secret::take(char *answer, size_t size)
{
    wipe();
    std::vector<char>().swap(m_bytes);
    m_bytes.resize(size + 1); // zero-filled, so the terminating zero is in place
    if (size)
        std::memcpy(m_bytes.data(), answer, size);
    wipeBytes(answer, size);
}

namespace testing {
namespace {
std::atomic<bool> g_refuseUnnamed{false};
}
void refuseUnnamedFiles(bool refuse)
{
    g_refuseUnnamed = refuse;
}
bool unnamedFilesRefused()
{
    return g_refuseUnnamed;
}
} // namespace testing

} // namespace pnvzip
