#include "tools/ocuvex/process/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "media/libav.h"
#include "tools/ocuvex/process/stop_signals.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace ocuvex::process {

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
    throw media::MediaError("cannot write " + quoted(path) + ": " + std::strerror(error));
}

// The file of picture `number` of a pattern such as out%04d.png; empty when
// the name holds no pattern.
std::string picture_of(const std::string& pattern, int number) {
    std::vector<char> name(pattern.size() + 32);
    if (av_get_frame_filename2(name.data(), static_cast<int>(name.size()), pattern.c_str(), number, 0) < 0) {
        return {};
    }
    return name.data();
}

// The file an input names: itself, or the first picture of a pattern, as
// the image2 demuxer looks for it (numbers 0 to 4).
std::string input_file_of(const std::string& input) {
    struct stat in {};
    if (stat(input.c_str(), &in) == 0) {
        return input;
    }
    for (int number = 0; number < 5; ++number) {
        std::string picture = picture_of(input, number);
        if (!picture.empty() && stat(picture.c_str(), &in) == 0) {
            return picture;
        }
    }
    return input;
}

// Flushes what `path` holds to disk: `sync` is fsync for a file, syncfs for
// a folder's file system. Throws MediaError naming `output`.
void flush_to_disk(const std::string& path, int open_flags, int (*sync)(int), const std::string& output) {
    const int fd = open(path.c_str(), open_flags);
    if (fd < 0 || sync(fd) != 0) {
        const int error = errno;
        if (fd >= 0) {
            close(fd);
        }
        fail(output, error);
    }
    close(fd);
}

std::string path_in(const std::string& folder, const std::string& name) {
    std::string path = folder;
    path += '/';
    path += name;
    return path;
}

// The names in a folder, "." and ".." left out; empty when it cannot be read.
std::vector<std::string> names_in(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string escape_percent(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        escaped += c == '%' ? "%%" : std::string(1, c);
    }
    return escaped;
}

}  // namespace

void check_output_path(const std::string& input, const std::string& output_path, bool overwrite, bool sequence) {
    const std::string output = sequence ? picture_of(output_path, 1) : output_path;
    struct stat out {};
    if (output.empty() || stat(output.c_str(), &out) != 0) {
        return;  // a missing OUTPUT is the usual case; a bad folder shows when the file is made
    }
    struct stat in {};
    if (stat(input_file_of(input).c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        throw media::MediaError(quoted(output) + " is the input file itself; choose another OUTPUT");
    }
    if (S_ISDIR(out.st_mode)) {
        throw media::MediaError(quoted(output) + " is a folder; OUTPUT must name a file");
    }
    // Renaming over a device or pipe would replace it, not write to it.
    if (!S_ISREG(out.st_mode)) {
        throw media::MediaError(quoted(output) + " is not a regular file; OUTPUT must name a file");
    }
    if (!overwrite) {
        throw media::MediaError(quoted(output) + " already exists; use -y to overwrite it");
    }
}

OutputFile::OutputFile(const std::string& path, bool overwrite, bool sequence) : path_(path), overwrite_(overwrite) {
    if (sequence) {
        // No '%' of the output's name in the folder's: the image2 muxer
        // would read it as the picture number.
        const std::string pattern = folder_of(path) + "/.ocuvex-sequence-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            fail(path, errno);
        }
        temp_folder_ = name.data();
        temp_path_ = escape_percent(temp_folder_) + "/" + name_of(path);
        set_signal_cleanup_path(temp_folder_);
        return;
    }
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
    if (!committed_ && !temp_folder_.empty()) {
        for (const std::string& name : names_in(temp_folder_)) {
            unlink(path_in(temp_folder_, name).c_str());
        }
        rmdir(temp_folder_.c_str());
    } else if (!committed_ && !temp_path_.empty()) {
        unlink(temp_path_.c_str());
    }
    set_signal_cleanup_path({});
}

void OutputFile::commit_sequence() {
    const std::vector<std::string> names = names_in(temp_folder_);
    // Every picture on disk before any name points at it.
    flush_to_disk(temp_folder_, O_RDONLY | O_DIRECTORY, syncfs, path_);
    const std::string target_folder = folder_of(path_);
    if (!overwrite_) {
        for (const std::string& name : names) {
            struct stat existing {};
            const std::string target = path_in(target_folder, name);
            if (lstat(target.c_str(), &existing) == 0) {
                throw media::MediaError(quoted(target) + " already exists; use -y to overwrite it");
            }
        }
    }
    for (const std::string& name : names) {
        if (rename(path_in(temp_folder_, name).c_str(), path_in(target_folder, name).c_str()) != 0) {
            fail(path_, errno);
        }
    }
    rmdir(temp_folder_.c_str());
    committed_ = true;
    set_signal_cleanup_path({});
}

void OutputFile::commit() {
    if (!temp_folder_.empty()) {
        commit_sequence();
        return;
    }
    // Data on disk before the name points at it: a crash leaves either the
    // old OUTPUT or the complete new one.
    flush_to_disk(temp_path_, O_RDONLY, fsync, path_);
    if (overwrite_) {
        if (rename(temp_path_.c_str(), path_.c_str()) != 0) {
            fail(path_, errno);
        }
    } else if (renameat2(AT_FDCWD, temp_path_.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST) {
            throw media::MediaError(quoted(path_) + " appeared while converting; use -y to overwrite it");
        }
        if (errno != EINVAL && errno != ENOSYS) {
            fail(path_, errno);
        }
        // A file system without RENAME_NOREPLACE: a hard link also refuses to replace.
        if (link(temp_path_.c_str(), path_.c_str()) != 0) {
            if (errno == EEXIST) {
                throw media::MediaError(quoted(path_) + " appeared while converting; use -y to overwrite it");
            }
            fail(path_, errno);
        }
        unlink(temp_path_.c_str());
    }
    committed_ = true;
    set_signal_cleanup_path({});
}

}  // namespace ocuvex::process
