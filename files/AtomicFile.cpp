#include "files/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {
namespace {

namespace fs = std::filesystem;

std::string errorText(int error)
{
    return std::strerror(error);
}

// Closes on every way out, so that a failure half-way leaks nothing.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now, as a close can be the first to report a full disk.
    int close()
    {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int fd_;
};

// The file a write lands on: through a link to the file it names, so that
// replacing the file keeps the link.
fs::path landingPath(const fs::path& target)
{
    std::error_code error;
    if (fs::is_symlink(target, error)) {
        fs::path real = fs::canonical(target, error);
        if (!error)
            return real;
    }
    return target;
}

// The target as it is now: absent, a regular file (whose mode the new one
// keeps), or something that cannot be replaced by renaming.
struct Existing {
    bool exists = false;
    bool regular = false;
    bool directory = false;
    mode_t mode = 0;
};

Existing existingFile(const fs::path& path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return {};
    return {true, S_ISREG(status.st_mode), S_ISDIR(status.st_mode), status.st_mode & 07777};
}

std::string randomSuffix()
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string suffix(8, ' ');
    for (char& letter : suffix)
        letter = kLetters[pick(random)];
    return suffix;
}

struct Temporary {
    fs::path path;
    int fd = -1;
    int error = 0;
};

// A new file beside `target` that no other writer has: O_EXCL refuses a name
// already taken, and a taken name is tried again with another. Created with
// 0666 so that the umask decides, as for any file the user makes.
Temporary createTemporaryBeside(const fs::path& target)
{
    constexpr int kAttempts = 100;
    constexpr std::size_t kNameKept = 200;  // room for the suffix within a name's limit
    const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
    const std::string name = target.filename().string().substr(0, kNameKept);
    Temporary temporary;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        temporary.path = directory / ("." + name + "." + randomSuffix() + ".tmp");
        temporary.fd = ::open(temporary.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (temporary.fd >= 0)
            return temporary;
        if (errno != EEXIST)
            break;
    }
    temporary.error = errno;
    return temporary;
}

int writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        if (written == 0)
            return EIO;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

// Without it a crash soon after the rename could leave the old name pointing
// nowhere on some file systems; a failure here loses nothing written.
void syncDirectoryOf(const fs::path& target)
{
    const fs::path directory = target.has_parent_path() ? target.parent_path() : fs::path(".");
    Descriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid())
        ::fsync(fd.get());
}

// A device or a pipe is written as it is: there is no file to keep whole, and
// a pipe without a reader fails at once rather than holds the program.
std::string writeInPlace(const fs::path& target, std::string_view contents)
{
    Descriptor fd(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        return errorText(errno);
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    if (const int error = writeAll(fd.get(), contents))
        return errorText(error);
    if (const int error = fd.close())
        return errorText(error);
    return {};
}

std::string writeBesideAndRename(const fs::path& target, const Existing& existing, std::string_view contents)
{
    Temporary temporary = createTemporaryBeside(target);
    if (temporary.fd < 0)
        return errorText(temporary.error);
    Descriptor fd(temporary.fd);
    int error = 0;
    if (existing.exists && ::fchmod(fd.get(), existing.mode) != 0)
        error = errno;
    if (!error)
        error = writeAll(fd.get(), contents);
    if (!error && ::fsync(fd.get()) != 0)
        error = errno;
    if (!error)
        error = fd.close();
    if (!error && ::rename(temporary.path.c_str(), target.c_str()) != 0)
        error = errno;
    if (error) {
        ::unlink(temporary.path.c_str());
        return errorText(error);
    }
    syncDirectoryOf(target);
    return {};
}

} // namespace

std::string writeFileAtomically(const fs::path& target, std::string_view contents)
{
    const fs::path landing = landingPath(target);
    const Existing existing = existingFile(landing);
    if (existing.directory)
        return errorText(EISDIR);
    if (existing.exists && !existing.regular)
        return writeInPlace(landing, contents);
    return writeBesideAndRename(landing, existing, contents);
}

std::string writeFileAtomically(const fs::path& target, const std::function<bool(std::ostream&)>& write)
{
    std::ostringstream contents;
    if (!write(contents) || !contents)
        return "the contents could not be made";
    return writeFileAtomically(target, contents.view());
}

std::string checkFileWritable(const fs::path& target)
{
    const fs::path landing = landingPath(target);
    const Existing existing = existingFile(landing);
    if (existing.directory)
        return errorText(EISDIR);
    if (existing.exists && !existing.regular) {
        Descriptor fd(::open(landing.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        return fd.valid() ? std::string() : errorText(errno);
    }
    const Temporary temporary = createTemporaryBeside(landing);
    if (temporary.fd < 0)
        return errorText(temporary.error);
    ::close(temporary.fd);
    ::unlink(temporary.path.c_str());
    return {};
}

} // namespace files
