// Disks that fill up, for tests of what the program does when a write fails.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

// Every write beyond 'bytes' into a file fails while this lives, as on a disk that filled up
// under the program: the process's file-size limit, with SIGXFSZ ignored so that the write
// returns an error instead of ending the process.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0 || ::sigaction(SIGXFSZ, &ignore, &previous_) != 0) return;
        rlimit small = saved_;
        small.rlim_cur = bytes;
        set_ = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::sigaction(SIGXFSZ, &previous_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool Set() const { return set_; }

  private:
    rlimit saved_{};
    struct sigaction previous_ {};
    bool set_ = false;
};

// A disk of 64 kB at 'dir' (made here) while this lives: a tmpfs, which only a process with
// the right to mount can have. Mounted() says whether it could; Why() says why not.
class SmallDisk {
  public:
    SmallDisk(const std::string &dir, const char *name) : dir_(dir) {
        if (::mkdir(dir.c_str(), 0755) != 0) {
            why_ = std::strerror(errno);
            return;
        }
        mounted_ = ::mount(name, dir.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
        if (!mounted_) why_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;
    bool Mounted() const { return mounted_; }
    const std::string &Why() const { return why_; }

  private:
    std::string dir_;
    bool mounted_ = false;
    std::string why_;
};

// Fills what is left of the disk that holds 'dir' with the file 'dir'/filler, down to the last
// byte; false when that file could not be made. Removing the file makes room again.
inline bool FillUp(const std::string &dir) {
    const int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const char block[512] = {};
    while (::write(fd, block, sizeof block) > 0) {
    }
    while (::write(fd, block, 1) > 0) {
    }
    ::close(fd);
    return true;
}
