#include "tools/ocuvex/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/ocuvex/media_common.h"

namespace ocuvex::cli {

namespace {

std::string folder_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

[[noreturn]] void fail(const std::string& path, int error) {
    throw MediaError("cannot write " + quoted(path) + ": " + std::strerror(error));
}

}  // namespace

void check_output_path(const std::string& input, const std::string& output, bool overwrite) {
    struct stat out {};
    if (stat(output.c_str(), &out) != 0) {
        return;  // a missing OUTPUT is the usual case; a bad folder shows when the file is made
    }
    struct stat in {};
    if (stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        throw MediaError(quoted(output) + " is the input file itself; choose another OUTPUT");
    }
    if (S_ISDIR(out.st_mode)) {
        throw MediaError(quoted(output) + " is a folder; OUTPUT must name a file");
    }
    // Renaming over a device or pipe would replace it, not write to it.
    if (!S_ISREG(out.st_mode)) {
        throw MediaError(quoted(output) + " is not a regular file; OUTPUT must name a file");
    }
    if (!overwrite) {
        throw MediaError(quoted(output) + " already exists; use -y to overwrite it");
    }
}

OutputFile::OutputFile(const std::string& path, bool overwrite) : path_(path), overwrite_(overwrite) {
    const std::string pattern = folder_of(path) + "/." + name_of(path) + ".ocuvex-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        fail(path, errno);
    }
    temp_path_ = name.data();
    // mkstemp makes the file private; give it the mode a new file gets, or
    // the mode of the file it replaces.
    mode_t mode = 0;
    struct stat existing {};
    if (stat(path.c_str(), &existing) == 0) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    const bool chmod_failed = fchmod(fd, mode) != 0;
    const int error = errno;
    close(fd);
    if (chmod_failed) {
        unlink(temp_path_.c_str());
        fail(path, error);
    }
    // A second signal ends the process at once: it removes this file first.
    set_signal_cleanup_path(temp_path_);
}

OutputFile::~OutputFile() {
    if (!committed_ && !temp_path_.empty()) {
        unlink(temp_path_.c_str());
    }
    set_signal_cleanup_path({});
}

void OutputFile::commit() {
    // Data on disk before the name points at it: a crash leaves either the
    // old OUTPUT or the complete new one.
    const int fd = open(temp_path_.c_str(), O_RDONLY);
    if (fd < 0 || fsync(fd) != 0) {
        const int error = errno;
        if (fd >= 0) {
            close(fd);
        }
        fail(path_, error);
    }
    close(fd);
    if (overwrite_) {
        if (rename(temp_path_.c_str(), path_.c_str()) != 0) {
            fail(path_, errno);
        }
    } else if (renameat2(AT_FDCWD, temp_path_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) {
            throw MediaError(quoted(path_) + " appeared while converting; use -y to overwrite it");
        }
        if (errno != EINVAL && errno != ENOSYS) {
            fail(path_, errno);
        }
        // A file system without RENAME_NOREPLACE: a hard link also refuses to replace.
        if (link(temp_path_.c_str(), path_.c_str()) != 0) {
            if (errno == EEXIST) {
                throw MediaError(quoted(path_) + " appeared while converting; use -y to overwrite it");
            }
            fail(path_, errno);
        }
        unlink(temp_path_.c_str());
    }
    committed_ = true;
    set_signal_cleanup_path({});
}

}  // namespace ocuvex::cli
