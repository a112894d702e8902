#pragma once
// What an extraction keeps of a password and of decrypted data, and how it lets go of it:
// every buffer that held a password or plaintext of an encrypted entry is overwritten before
// its memory is given back, so that no freed block holds either. Decrypted data reaches a
// file readable by its owner only, and gets the entry's permissions once it is verified.

#include <cstddef>
#include <string>
#include <vector>

namespace pnvzip {

// Overwrites a buffer's whole capacity (what the allocator gets back), not just its size.
void wipeBytes(void *data, size_t size);
void wipeString(std::string &bytes);
template<typename T>
void wipeVector(std::vector<T> &bytes)
{
    wipeBytes(bytes.data(), bytes.capacity() * sizeof(T));
}

// A password for the length of one call; wiped when replaced or destroyed. It is laid out
// once, at its final size with its terminating zero, so no growing leaves a copy behind.
class Secret
{
public:
    Secret() = default;
    Secret(const Secret &other) { assign(other.m_bytes.data(), other.m_bytes.size()); }
    Secret &operator=(const Secret &other);
    ~Secret() { wipe(); }
    // Takes the answer and wipes the caller's buffer (an array of `size` bytes).
    void take(char *answer, size_t size);
    bool empty() const { return m_bytes.empty(); }
    const char *c_str() const { return m_bytes.data(); }
    size_t size() const { return m_bytes.empty() ? 0 : m_bytes.size() - 1; }
    bool operator==(const Secret &other) const { return m_bytes == other.m_bytes; }

private:
    void wipe();
    void assign(const char *bytes, size_t size); // `size` with the terminating zero
    std::vector<char> m_bytes;                   // with a terminating zero
};

namespace testing {
// For tests: extraction behaves as on a file system without unnamed files (O_TMPFILE), where
// every file is written under a temporary name first.
void refuseUnnamedFiles(bool refuse);
bool unnamedFilesRefused();
} // namespace testing

} // namespace pnvzip
