#include "server/CaptainKey.h"

#include <sys/random.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

std::string newCaptainKey()
{
    std::array<unsigned char, 16> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t count = getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (count > 0)
            got += static_cast<std::size_t>(count);
        else if (errno != EINTR)
            break;
    }
    std::string key;
    for (unsigned char byte : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", byte);
        key += hex;
    }
    return key;
}

namespace {

std::string makeKeyFile(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot make the captain's key file " + path + ": " + std::strerror(errno);
        return {};
    }
    const std::string key = newCaptainKey();
    const std::string line = key + "\n";
    const bool written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        error = "cannot write the captain's key file " + path;
        return {};
    }
    return key;
}

}  // namespace

std::string captainKeyFrom(const std::string& path, std::string& error)
{
    struct stat status{};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT)
            return makeKeyFile(path, error);
        error = "cannot read the captain's key file " + path + ": " + std::strerror(errno);
        return {};
    }
    if ((status.st_mode & 077) != 0) {
        error = "the captain's key file " + path + " can be read by others (chmod 600 it)";
        return {};
    }
    std::ifstream file(path);
    std::string key;
    std::getline(file, key);
    while (!key.empty() && (key.back() == '\r' || key.back() == ' ' || key.back() == '\t'))
        key.pop_back();
    // The key travels in the page's address, so it is kept to characters an address carries as they are.
    const bool plain = std::all_of(key.begin(), key.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~';
    });
    if (key.empty() || key.size() > 256 || !plain) {
        error = "the captain's key file " + path +
                " holds no key (one line of at most 256 letters, digits and - _ . ~)";
        return {};
    }
    return key;
}
