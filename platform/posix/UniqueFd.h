// The owner of one POSIX file descriptor.
#pragma once

namespace varnis {

// Owns one file descriptor and closes it once.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int hFd) : m_hFd(hFd) {}
    UniqueFd(UniqueFd&& other) noexcept : m_hFd(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return m_hFd; }
    bool IsOpen() const { return m_hFd >= 0; }
    int Release();
    void Reset(int hFd = -1);

private:
    int m_hFd = -1;
};

}  // namespace varnis
