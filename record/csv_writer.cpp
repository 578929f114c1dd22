#include "csv_writer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "csv.h"

namespace {

std::string Reason(int err) {
    if (err == ENOSPC) return "the disk is full";
    if (err == EDQUOT) return "the disk quota is used up";
    if (err == EFBIG) return "the file has reached its size limit";
    if (err == EROFS) return "the disk is read-only";
    if (err == EACCES || err == EPERM) return "no permission to write there";
    return std::strerror(err);
}

// The start of an open file, enough to find its header row (the comment lines are short).
bool ReadHead(int fd, std::string *head, char *lastByte, int64_t *size) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return false;
    }
    *size = st.st_size;
    head->assign(static_cast<size_t>(std::min<int64_t>(st.st_size, 64 * 1024)), '\0');
    size_t got = 0;
    while (got < head->size()) {
        const ssize_t r = ::pread(fd, &(*head)[got], head->size() - got, static_cast<off_t>(got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    *lastByte = '\n';
    if (st.st_size > 0) {
        ssize_t r;
        do {
            r = ::pread(fd, lastByte, 1, static_cast<off_t>(st.st_size - 1));
        } while (r < 0 && errno == EINTR);
        if (r != 1) return false;
    }
    return true;
}

// Why an existing file is refused, or an empty text when it may be used.
std::string Refusal(const std::string &path, ExistingFile kind) {
    switch (kind) {
    case ExistingFile::kOtherHeader:
        return "Cannot record into " + path +
               ": it holds other columns than a recording. Choose another file.";
    case ExistingFile::kNoHeader:
        return "Cannot record into " + path + ": it is not a recording of this program. Choose another file.";
    default:
        return std::string();
    }
}

int OpenFor(const std::string &path, int flags, std::string *error) {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) std::filesystem::create_directories(parent, ec);
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) *error = "Cannot record into " + path + ": " + Reason(errno) + ".";
    return fd;
}

// Opens the file for appending and reads what it already holds at its start; -1 (with the text)
// when either fails.
int OpenAndReadHead(const std::string &path, std::string *head, char *last, int64_t *size, std::string *error) {
    const int fd = OpenFor(path, O_RDWR | O_APPEND | O_CREAT, error);
    if (fd < 0) return -1;
    if (!ReadHead(fd, head, last, size)) {
        const int err = errno;
        ::close(fd);
        *error = "Cannot record into " + path + ": " + Reason(err) + ".";
        return -1;
    }
    return fd;
}

// Opens the file and judges what it holds: the open descriptor, or -1 with the reason in 'error'
// (no name, not openable, or a file the recorder will not add to).
int OpenAcceptable(const std::string &path, char *last, int64_t *size, ExistingFile *kind, std::string *error) {
    if (path.empty()) {
        *error = "Cannot record: no file name.";
        return -1;
    }
    std::string head;
    const int fd = OpenAndReadHead(path, &head, last, size, error);
    if (fd < 0) return -1;
    *kind = ClassifyExisting(head);
    *error = Refusal(path, *kind);
    if (!error->empty()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

CsvWriter::~CsvWriter() {
    Close();
}

bool CsvWriter::Check(const std::string &path, std::string *error) {
    char last = '\n';
    int64_t size = 0;
    ExistingFile kind;
    const int fd = OpenAcceptable(path, &last, &size, &kind, error);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool CsvWriter::Open(const std::string &path, const std::string &commentLines, std::string *error) {
    Close();
    char last = '\n';
    int64_t size = 0;
    ExistingFile kind;
    const int fd = OpenAcceptable(path, &last, &size, &kind, error);
    if (fd < 0) return false;
    fd_ = fd;
    size_ = size;
    path_ = path;
    failed_ = false;
    rowsWritten_ = 0;
    error_.clear();
    std::string start;
    if (kind == ExistingFile::kEmpty) {
        start = commentLines + kRecordHeaderRow + "\n";
    } else if (last != '\n') {
        // A row left unfinished by someone else: end its line, so that ours stay whole.
        start = "\n";
    }
    if (!start.empty() && !WriteWhole(start.data(), start.size())) {
        *error = Error();
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    stopping_ = false;
    queued_.clear();
    thread_ = std::thread(&CsvWriter::Run, this);
    return true;
}

void CsvWriter::Push(const char *row, size_t length) {
    if (fd_ < 0 || Failed()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (queued_.size() + length > kMaxQueued) {
        error_ = "Recording stopped: the disk does not keep up with the rows (" + path_ + ").";
        failed_.store(true, std::memory_order_release);
        return;
    }
    queued_.append(row, length);
}

void CsvWriter::Close() {
    if (fd_ < 0) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::string().swap(queued_); // a queue that grew while the disk lagged gives its memory back
    // A failing device or a full network disk may refuse the rows only now, when they go to it.
    // A file system that cannot be synchronised (EINVAL, ENOSYS) has lost nothing.
    if (!Failed() && ::fdatasync(fd_) != 0) {
        const int err = errno;
        if (err != EINVAL && err != ENOSYS) Fail("Recording stopped: " + Reason(err) + " (" + path_ + ").");
    }
    ::close(fd_);
    fd_ = -1;
}

std::string CsvWriter::Error() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void CsvWriter::Fail(const std::string &text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_.load()) return;
    error_ = text;
    failed_.store(true, std::memory_order_release);
}

bool CsvWriter::WriteWhole(const char *data, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t r = ::write(fd_, data + done, length - done);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            const int err = r < 0 ? errno : ENOSPC;
            // Whatever part of the row got in comes out again: the file ends on a whole row.
            if (done > 0) (void)::ftruncate(fd_, static_cast<off_t>(size_));
            Fail("Recording stopped: " + Reason(err) + " (" + path_ + ").");
            return false;
        }
        done += static_cast<size_t>(r);
    }
    size_ += static_cast<int64_t>(length);
    return true;
}

void CsvWriter::Run() {
    std::string work;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopping_; });
        work.swap(queued_);
        const bool stop = stopping_;
        lock.unlock();
        size_t pos = 0;
        while (pos < work.size() && !Failed()) {
            size_t end = work.find('\n', pos);
            end = end == std::string::npos ? work.size() : end + 1;
            if (!WriteWhole(work.data() + pos, end - pos)) break;
            rowsWritten_.fetch_add(1, std::memory_order_relaxed);
            pos = end;
        }
        work.clear();
        // A queue that grew while the disk lagged does not keep its memory.
        if (work.capacity() > (1u << 20)) std::string().swap(work);
        lock.lock();
        if (stop && queued_.empty()) break;
    }
}
